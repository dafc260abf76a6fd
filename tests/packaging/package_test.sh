#!/usr/bin/env bash
# Desktop and Debian integration, judged by the tools the distribution judges it with.
#   package_test.sh desktop_entry   desktop-file-validate on the desktop entry
#   package_test.sh metainfo        appstreamcli validate --no-net on the software-centre
#                                   entry, whose screenshots must be files of docs/screenshots
#   package_test.sh package         cpack builds the .deb into a scratch folder; lintian
#                                   finds no error or warning, the package holds its files
#                                   (program, corvanectl, corvane_exporter with its unit and
#                                   examples, changelog, entry and manual pages at the
#                                   package's version), and its tree passes appstreamcli
#                                   validate-tree
# Any error or warning line fails; hints and notes are shown only. A check whose tool is
# missing reports SKIP (status 77) with the reason.
set -uo pipefail
source_dir="${CORVANE_SOURCE_DIR:?CORVANE_SOURCE_DIR names the source folder}"
metainfo_name=org.corvane_control.corvane_control.metainfo.xml

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    exit 1
}
need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip "$tool is missing (scripts/setup-packages installs it)"
    done
}
# Runs a validator, shows what it said, and fails on its status or on any line that
# is an error or a warning in the formats of desktop-file-validate, appstreamcli and
# lintian ("file: error: ...", "E: ...", "  W: ...").
validate() {
    local what="$1"
    shift
    "$@" >"$work/said" 2>&1
    local status=$?
    sed 's/^/  /' "$work/said"
    if [ "$status" -ne 0 ] || grep -qE '^ *[EW]: |: (error|warning): ' "$work/said"; then
        fail "$what: $* (status $status)"
    fi
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

check_desktop_entry() {
    need_tools desktop-file-validate
    validate "desktop entry" desktop-file-validate "$source_dir/data/corvane-control.desktop"
}

check_metainfo() {
    need_tools appstreamcli
    local metainfo="$source_dir/data/$metainfo_name"
    validate "software-centre entry" appstreamcli validate --no-net "$metainfo"
    # The addresses are not fetched, so check that each one names a committed picture.
    local urls url count=0
    urls="$(grep -o '<image[^>]*>[^<]*</image>' "$metainfo" | sed 's/<[^>]*>//g')"
    for url in $urls; do
        count=$((count + 1))
        case "$url" in
        */docs/screenshots/*) ;;
        *) fail "screenshot $url is not under docs/screenshots/" ;;
        esac
        [ -f "$source_dir/docs/screenshots/${url##*/}" ] ||
            fail "screenshot $url: docs/screenshots/${url##*/} does not exist"
    done
    [ "$count" -gt 0 ] || fail "the software-centre entry shows no screenshot"
    # Software centres show a caption under each picture; the validator lets one go missing.
    local captions
    captions="$(grep -c '<caption>' "$metainfo")"
    [ "$captions" -eq "$count" ] || fail "$count screenshots but $captions English captions"
}

check_package() {
    need_tools dpkg-deb dpkg-shlibdeps lintian appstreamcli
    local program="${CORVANE_PROGRAM:?CORVANE_PROGRAM names the built corvane-control}"
    case "${CORVANE_HELP2MAN:-}" in
    "" | *NOTFOUND) skip "help2man was missing when CMake configured, so the package has no manual page" ;;
    esac
    [ -x "$program" ] || fail "$program is not built: build the corvane-control target first"

    "${CORVANE_CPACK:?}" -G DEB --config "${CORVANE_CPACK_CONFIG:?}" -B "$work/out" >"$work/cpack" 2>&1 ||
        { cat "$work/cpack"; fail "cpack could not build the package"; }
    local debs=("$work"/out/*.deb)
    if [ "${#debs[@]}" -ne 1 ] || [ ! -f "${debs[0]}" ]; then
        fail "cpack made no single package: ${debs[*]}"
    fi
    local deb="${debs[0]}"
    echo "package: ${deb##*/}"

    local lintian_options=(-I --pedantic)
    [ "$(id -u)" -eq 0 ] && lintian_options+=(--allow-root)
    validate "lintian" lintian "${lintian_options[@]}" "$deb"

    local tree="$work/tree" version
    dpkg-deb -x "$deb" "$tree" || fail "dpkg-deb cannot unpack ${deb##*/}"
    version="$(dpkg-deb -f "$deb" Version)"
    # Each row: file in the package | text it must hold (compressed files are read
    # uncompressed; {version} is the package's version).
    local path text
    while IFS='|' read -r path text; do
        text="${text//\{version\}/$version}"
        [ -f "$tree/$path" ] || fail "the package lacks /$path"
        zcat -f "$tree/$path" >"$work/content" || fail "cannot read /$path"
        grep -qF -- "$text" "$work/content" || fail "/$path lacks '$text'"
    done <<'ROWS'
usr/share/applications/corvane-control.desktop|Exec=corvane-control
usr/share/metainfo/org.corvane_control.corvane_control.metainfo.xml|<release version="{version}"
usr/share/man/man1/corvane-control.1.gz|"corvane-control {version}"
usr/share/man/man1/corvane-control.1.gz|\fB\-\-version\fR
usr/share/man/man1/corvanectl.1.gz|"corvanectl {version}"
usr/share/man/man1/corvanectl.1.gz|\fBset\-address\fR
usr/share/man/man1/corvane_exporter.1.gz|"corvane_exporter {version}"
usr/share/man/man1/corvane_exporter.1.gz|\fB\-\-web.listen\-address\fR
lib/systemd/system/corvane-exporter.service|DynamicUser=yes
usr/share/doc/corvane-control/examples/corvane-rules.yml|alert: ModuleDown
usr/share/doc/corvane-control/examples/prometheus.yml|metrics_path: /probe
usr/share/doc/corvane-control/copyright|Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
usr/share/doc/corvane-control/changelog.gz|corvane-control ({version})
ROWS
    # The stripped program from the package still runs, and is the package's version.
    local said
    said="$(env -u DISPLAY -u WAYLAND_DISPLAY "$tree/usr/bin/corvane-control" --version 2>&1)"
    [ "$said" = "corvane-control $version" ] ||
        fail "the packaged corvane-control --version says '$said', not 'corvane-control $version'"
    said="$("$tree/usr/bin/corvanectl" --version 2>&1)"
    [ "$said" = "corvanectl $version" ] ||
        fail "the packaged corvanectl --version says '$said', not 'corvanectl $version'"
    said="$("$tree/usr/bin/corvane_exporter" --version 2>&1)"
    [ "$said" = "corvane_exporter $version" ] ||
        fail "the packaged corvane_exporter --version says '$said', not 'corvane_exporter $version'"
    validate "installed tree" appstreamcli validate-tree --no-net "$tree"
}

case "${1:-}" in
desktop_entry | metainfo | package) "check_$1" ;;
*) fail "usage: $0 desktop_entry|metainfo|package" ;;
esac
echo PASS
