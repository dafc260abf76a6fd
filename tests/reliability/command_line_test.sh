#!/usr/bin/env bash
# The program's command line, without any display: --help and --version print and end
# with status 0 even while another copy holds the single-instance lock (so they never
# take it), and an unknown option prints the usage on standard error with status 2.
# Each row: arguments | expected status | stream that must hold the text | text.
set -uo pipefail
program="${CORVANE_PROGRAM:?CORVANE_PROGRAM names the built corvane-control}"
command -v flock >/dev/null || { echo "SKIP: flock (util-linux) is missing"; exit 77; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
runtime="$work/runtime"
mkdir -m 0700 "$runtime"
# Another copy's lock, held for the whole test.
exec 9>"$runtime/QVN_CorvaneControl"
flock -n 9 || { echo "FAIL: cannot take the lock file $runtime/QVN_CorvaneControl"; exit 1; }

failures=0
while IFS='|' read -r arguments status stream text; do
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$runtime" \
        timeout 10 "$program" $arguments >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" != "$status" ] || ! grep -qF -- "$text" "$work/$stream"; then
        echo "FAIL: '$arguments': status $got (expected $status), $stream lacks '$text'"
        echo "  stdout: $(head -c 300 "$work/out")"
        echo "  stderr: $(head -c 300 "$work/err")"
        failures=$((failures + 1))
    fi
    if [ "$status" = 0 ] && [ -s "$work/err" ]; then
        echo "FAIL: '$arguments' wrote to standard error: $(head -c 300 "$work/err")"
        failures=$((failures + 1))
    fi
done <<'ROWS'
--help|0|out|Usage: corvane-control [options]
-h|0|out|--version
--version|0|out|corvane-control 0.
-v|0|out|corvane-control 0.
--frobnicate|2|err|Unknown option 'frobnicate'
--frobnicate|2|err|Usage: corvane-control [options]
-x --help|2|err|Unknown option 'x'
ROWS
[ "$failures" -eq 0 ] && echo PASS
exit $((failures > 0))
