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
#                                   validate-tree; its maintainer scripts, run with
#                                   recording stand-ins for deb-systemd-helper,
#                                   deb-systemd-invoke and systemctl, never start the
#                                   exporter on a first installation, restart it on an
#                                   upgrade, stop and mask it on removal, purge its state
#   package_test.sh manual_page     corvane_exporter's manual page, rendered by man, shows
#                                   every option of its --help whole, with its argument
#   package_test.sh install         cmake --install into a scratch prefix, as the user
#                                   nobody when run as root: it succeeds and writes
#                                   nothing outside the prefix, the service files included
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
usr/share/bash-completion/completions/corvanectl|complete -F _corvanectl corvanectl
lib/systemd/system/corvane-exporter.service|DynamicUser=yes
etc/default/corvane-exporter|CORVANE_SETTINGS=/etc/corvane-control/corvane-control.ini
usr/share/doc/corvane-control/examples/corvane-rules.yml|alert: ModuleDown
usr/share/doc/corvane-control/examples/prometheus.yml|metrics_path: /probe
usr/share/doc/corvane-control/examples/corvane-exporter-credentials.conf|LoadCredential=tls.key:
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
    [ -d "$tree/etc/corvane-control" ] || fail "the package does not make /etc/corvane-control"
    dpkg-deb -e "$deb" "$work/control" || fail "dpkg-deb cannot read the control files"
    grep -qx /etc/default/corvane-exporter "$work/control/conffiles" ||
        fail "/etc/default/corvane-exporter is not a conffile"
    check_maintainer_scripts "$work/control"
    validate "installed tree" appstreamcli validate-tree --no-net "$tree"
}

# Runs each maintainer script as dpkg would, in a mount namespace whose /run is empty or
# holds /run/systemd/system (systemd running), with stand-ins that record each call of
# deb-systemd-helper, deb-systemd-invoke and systemctl and answer the helper's questions
# from the row. Each row: script and arguments | unit known to the helper before, and
# enabled (yes/no) | systemd running | the calls, in order, joined by ";".
check_maintainer_scripts() {
    local control="$1" stubs="$work/stubs" tool
    local -a unshare_options=(-m)
    [ "$(id -u)" -eq 0 ] || unshare_options=(-r -m)
    unshare "${unshare_options[@]}" true 2>/dev/null || skip "no mount namespace for the maintainer scripts (unshare)"
    mkdir -p "$stubs"
    cat >"$stubs/stand-in" <<'STUB'
#!/bin/sh
echo "${0##*/} $*" >>"$CALLS"
case "$*" in
debian-installed*) [ "$KNOWN" = yes ] ;;
"--quiet was-enabled"*) [ "$ENABLED" = yes ] ;;
esac
STUB
    chmod +x "$stubs/stand-in"
    for tool in deb-systemd-helper deb-systemd-invoke systemctl; do
        ln -sf stand-in "$stubs/$tool"
    done
    local script known enabled running expected said u=corvane-exporter.service
    local -a call
    while IFS='|' read -r script known enabled running expected; do
        read -ra call <<<"$script"
        : >"$work/calls"
        unshare "${unshare_options[@]}" env CALLS="$work/calls" KNOWN="$known" ENABLED="$enabled" \
            PATH="$stubs:$PATH" sh -c 'mount -t tmpfs none /run && { [ "$1" = no ] || mkdir -p /run/systemd/system; } &&
                shift && exec sh "$@"' sh "$running" "$control/${call[0]}" "${call[@]:1}" ||
            fail "$script exits with status $?"
        said="$(paste -sd';' "$work/calls")"
        [ "$said" = "${expected//@/$u}" ] || fail "$script (known $known, enabled $enabled, systemd $running): '$said', not '${expected//@/$u}'"
    done <<ROWS
postinst configure|no|no|yes|deb-systemd-helper debian-installed @;deb-systemd-helper update-state @;systemctl --system daemon-reload
postinst configure 0.0.9|yes|yes|yes|deb-systemd-helper debian-installed @;deb-systemd-helper unmask @;deb-systemd-helper --quiet was-enabled @;deb-systemd-helper enable @;deb-systemd-helper update-state @;systemctl --system daemon-reload;deb-systemd-invoke try-restart @
postinst configure 0.0.9|yes|no|yes|deb-systemd-helper debian-installed @;deb-systemd-helper unmask @;deb-systemd-helper --quiet was-enabled @;deb-systemd-helper update-state @;systemctl --system daemon-reload;deb-systemd-invoke try-restart @
postinst configure 0.0.9|yes|yes|no|deb-systemd-helper debian-installed @;deb-systemd-helper unmask @;deb-systemd-helper --quiet was-enabled @;deb-systemd-helper enable @;deb-systemd-helper update-state @
prerm remove|yes|yes|yes|deb-systemd-invoke stop @
prerm upgrade 0.2.0|yes|yes|yes|
postrm remove|yes|yes|yes|systemctl --system daemon-reload;deb-systemd-helper mask @
postrm purge|yes|yes|no|deb-systemd-helper purge @;deb-systemd-helper unmask @
ROWS
}

check_manual_page() {
    need_tools man
    local exporter="${CORVANE_EXPORTER:?CORVANE_EXPORTER names the built corvane_exporter}"
    local page="${CORVANE_EXPORTER_PAGE:?CORVANE_EXPORTER_PAGE names its built manual page}"
    [ -f "$page" ] || skip "$page was not made (help2man was missing when CMake configured)"
    zcat "$page" >"$work/page.1" || fail "cannot read $page"
    MANWIDTH=200 LC_ALL=C.UTF-8 man -l "$work/page.1" >"$work/rendered" 2>"$work/said" ||
        fail "man cannot render $page: $(cat "$work/said")"
    # Each option line of --help: "  NAME[,NAME] [ARGUMENT[:TYPE][ in [..]][=DEFAULT]]".
    local names argument count=0 name roff_name tag
    while read -r names argument; do
        count=$((count + 1))
        argument="${argument%%[:=]*}"
        tag="${names//,/, }${argument:+ $argument}"
        grep -qE "^ +${tag//./\\.}( \(.*\))?$" "$work/rendered" ||
            fail "the rendered page shows no option '$tag'"
        for name in ${names//,/ }; do
            roff_name="${name//-/\\-}"
            grep -qF "\fB$roff_name\fR" "$work/page.1" || fail "the page does not set $name whole in bold"
        done
    done < <("$exporter" --help | grep -E '^  -' | sed -E 's/^ +//; s/  +.*//')
    [ "$count" -ge 8 ] || fail "only $count options found in corvane_exporter --help"
}

# cmake --install into a scratch prefix. As root it runs as nobody, who can write only
# the prefix (and the world-writable temporary folders, checked afterwards), plus the
# install manifest that cmake --install always writes into the build folder.
check_install() {
    local build="${CORVANE_BINARY_DIR:?CORVANE_BINARY_DIR names the build folder}"
    local prefix="$work/prefix" manifest="$build/install_manifest.txt"
    local -a as_user=()
    touch "$work/stamp"
    if [ "$(id -u)" -eq 0 ]; then
        need_tools setpriv
        id nobody >/dev/null 2>&1 || skip "there is no user nobody to install as"
        chown nobody "$work"
        install -m 0644 -o nobody /dev/null "$manifest" || fail "cannot prepare $manifest"
        as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups env HOME=/nonexistent)
    fi
    "${as_user[@]}" "${CORVANE_CMAKE:-cmake}" --install "$build" --prefix "$prefix" >"$work/said" 2>&1
    local status=$?
    [ "$(id -u)" -eq 0 ] && chown root "$manifest"
    [ "$status" -eq 0 ] || { cat "$work/said"; fail "cmake --install into $prefix failed (status $status)"; }
    local outside
    outside="$(grep -v "^$prefix/" "$manifest")"
    [ -z "$outside" ] || fail "cmake --install wrote outside the prefix: $outside"
    if [ "$(id -u)" -eq 0 ]; then
        outside="$(find /tmp /var/tmp /dev/shm -user nobody -newer "$work/stamp" -not -path "$work*" 2>/dev/null)"
        [ -z "$outside" ] || fail "cmake --install as nobody left files outside the prefix: $outside"
    fi
    local path
    for path in bin/corvane_exporter lib/systemd/system/corvane-exporter.service \
        etc/default/corvane-exporter etc/corvane-control share/man/man1/corvane_exporter.1.gz; do
        [ -e "$prefix/$path" ] || fail "cmake --install put no $path under the prefix"
    done
}

case "${1:-}" in
desktop_entry | metainfo | package | install | manual_page) "check_$1" ;;
*) fail "usage: $0 desktop_entry|metainfo|package|install|manual_page" ;;
esac
echo PASS
