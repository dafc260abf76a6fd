#!/usr/bin/env bash
# What ships beside corvane_exporter, judged by the tools that will read it:
#   shipped_files_test.sh rules   promtool checks the alert rules and the example
#                                 prometheus.yml, and runs the rules' unit tests (which
#                                 fire ModuleDown and OutputStopped)
#   shipped_files_test.sh unit    systemd-analyze verify on the service unit, run on the
#                                 built exporter; any complaint fails
# A missing tool reports SKIP (status 77) with the reason.
set -uo pipefail
source_dir="${CORVANE_SOURCE_DIR:?CORVANE_SOURCE_DIR names the source folder}"

skip() {
    echo "SKIP: $*"
    exit 77
}
fail() {
    echo "FAIL: $*"
    exit 1
}

check_rules() {
    command -v promtool >/dev/null || skip "promtool is missing (the prometheus package brings it)"
    promtool check rules "$source_dir/data/corvane-rules.yml" || fail "promtool check rules"
    promtool check config "$source_dir/data/prometheus.yml" || fail "promtool check config"
    promtool test rules "$source_dir/tests/exporter/corvane-rules.test.yml" || fail "promtool test rules"
}

check_unit() {
    command -v systemd-analyze >/dev/null || skip "systemd-analyze is missing"
    local exporter="${CORVANE_EXPORTER:?CORVANE_EXPORTER names the built corvane_exporter}"
    local work said
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' RETURN
    # The shipped unit names the program for systemd's own search path; here it is the
    # one just built. The manual page is not installed yet, so it is not looked for.
    sed "s|^ExecStart=corvane_exporter |ExecStart=$exporter |" \
        "$source_dir/data/corvane-exporter.service" >"$work/corvane-exporter.service"
    grep -q "^ExecStart=$exporter " "$work/corvane-exporter.service" || fail "no ExecStart to check"
    said="$(systemd-analyze verify --man=no "$work/corvane-exporter.service" 2>&1)"
    local status=$?
    echo "$said"
    [ "$status" -eq 0 ] && [ -z "$said" ] || fail "systemd-analyze verify (status $status)"
    for wanted in DynamicUser=yes ProtectSystem=strict NoNewPrivileges=yes \
        "RestrictAddressFamilies=AF_INET AF_NETLINK AF_UNIX"; do
        grep -qx "$wanted" "$work/corvane-exporter.service" || fail "the unit lacks $wanted"
    done
}

case "${1:-}" in
rules | unit) "check_$1" ;;
*) fail "usage: $0 rules|unit" ;;
esac
echo PASS
