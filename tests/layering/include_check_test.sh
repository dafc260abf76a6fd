#!/usr/bin/env bash
# The build's include check refuses an include that runs sideways between front ends or
# upward into one, and a Qt header outside the window; it passes what the rules allow.
#   include_check_test.sh SOURCE_DIR
set -uo pipefail
source_dir="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

failures=0
# One row: name, the folder's one source line, allowed folders, Qt allowed, expected result.
check() {
    local name="$1" line="$2" allowed="$3" qt="$4" expected="$5"
    rm -rf "$work/src" && mkdir -p "$work/src/front"
    printf '%s\n' "$line" >"$work/src/front/thing.cpp"
    cat >"$work/rules.cmake" <<RULES
list(APPEND corvane_libraries front)
set(corvane_folder_front "$work/src/front")
set(corvane_allowed_front "$allowed")
set(corvane_qt_front "$qt")
RULES
    rm -f "$work/stamp"
    if cmake -DRULES="$work/rules.cmake" -DSTAMP="$work/stamp" \
        -P "$source_dir/cmake/CheckCoreIncludes.cmake" >"$work/out" 2>&1; then
        actual=pass
    else
        actual=fail
    fi
    if [ "$actual" != "$expected" ] || { [ "$actual" = pass ] && [ ! -f "$work/stamp" ]; }; then
        echo "FAIL: $name: expected $expected, got $actual" >&2
        cat "$work/out" >&2
        failures=$((failures + 1))
    fi
}

check "front end includes the core"        '#include "devices/device_list.h"' "cli;devices;net" "" pass
check "front end includes another"         '#include "exporter/probe_service.h"' "cli;devices;net" "" fail
check "core includes a front end"          '#include "ui/dlg_main.h"' "devices;net" "" fail
check "Qt outside the window"              '#include <QString>' "cli;devices" "" fail
check "Qt in the window"                   '#include <QWidget>' "ui;devices" "TRUE" pass
check "system headers are free"            '#include <vector>' "cli" "" pass
[ "$failures" -eq 0 ] && echo "include check: all rows pass"
exit $(( failures > 0 ))
