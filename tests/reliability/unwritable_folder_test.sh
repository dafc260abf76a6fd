#!/usr/bin/env bash
# An installed copy in a folder its user cannot write. Run as the user nobody from a
# folder owned by root (mode 0755):
#   1. the settings go to $XDG_CONFIG_HOME/corvane-control/corvane-control.ini, the
#      placement stored there at close is what the next start restores, and nothing is
#      written beside the program;
#   2. with the configuration folder unwritable too, the program still opens, shows no
#      message box, and ends with status 0 and no crash when closed;
#   3. a device list of two modules installed beside the program by root is shown, and
#      opening alone makes no per-user file; a Remove makes the per-user file from the
#      installed one, less that module, and leaves the installed one byte for byte as it
#      was; the next start shows the per-user file's list;
#   4. an installed file whose local address is not one of the machine's: the address
#      written at opening makes the per-user file, with the installed list in it.
set -uo pipefail
source "$(dirname "$0")/program_harness.sh"
source "$(dirname "$0")/../e2e/drive.sh"
enter_display_and_lab "$@"
can_switch_to_nobody ||
    skip "needs root, setpriv and the user $kNobody (a folder unwritable for root does not exist)"
make_work_folder

readonly kWatchMs=1500
readonly kStoredLeft=40 kStoredTop=50 kStoredWidth=900 kStoredHeight=600

# A copy installed by root; the rest of its folder belongs to nobody.
folder="$(make_run_folder installed "$kNobody")"
chown root: "$folder/program" "$folder/program/corvane-control"
chmod 0755 "$folder/program" "$folder/program/corvane-control"
config="$folder/home/config"
settings="$config/corvane-control/corvane-control.ini"

# window_geometry: "WIDTHxHEIGHT+LEFT+TOP" of the main window as the X server has it.
window_geometry() {
    xwininfo -name "$kMainTitle" | awk '
        /Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
        /Width:/ { w = $NF } /Height:/ { h = $NF }
        END { printf "%sx%s+%s+%s", w, h, x, y }'
}

echo "settings in the configuration folder"
start_program "$folder" "$kNobody" XDG_CONFIG_HOME="$config"
pid=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window within ${kWindowLimitMs} ms: $(head -c 800 "$folder/stderr.txt")"
note "window after ${window_ms} ms"
expect_running_without_message_box "$pid" 300
first_geometry="$(window_geometry)"
close_and_expect_clean_exit "$pid" "$folder"
[ -f "$settings" ] || fail "no settings file at $settings"
[ "$(stat -c %U "$settings")" = "$kNobody" ] || fail "the settings file is not the user's"
[ ! -e "$folder/program/corvane-control.ini" ] || fail "a settings file appeared beside the program"
stored="$(ini_value "$settings" Layout Width)x$(ini_value "$settings" Layout Height)+$(ini_value "$settings" Layout Left)+$(ini_value "$settings" Layout Top)"
[ "$stored" = "$first_geometry" ] ||
    fail "the placement stored at close ($stored) is not the window's ($first_geometry)"
note "placement $stored stored at close in $settings"

echo "the stored placement survives a restart"
# Edited as the user, so the file stays theirs.
setpriv --reuid="$kNobody" --regid="$(id -g "$kNobody")" --clear-groups -- \
    sed -i -e "s/^Left=.*/Left=$kStoredLeft/" -e "s/^Top=.*/Top=$kStoredTop/" \
        -e "s/^Width=.*/Width=$kStoredWidth/" -e "s/^Height=.*/Height=$kStoredHeight/" "$settings" ||
    fail "cannot edit $settings"
start_program "$folder" "$kNobody" XDG_CONFIG_HOME="$config"
pid=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window on the restart: $(head -c 800 "$folder/stderr.txt")"
expected="${kStoredWidth}x${kStoredHeight}+${kStoredLeft}+${kStoredTop}"
[ "$(window_geometry)" = "$expected" ] ||
    fail "the restarted window is at $(window_geometry), not at the stored $expected"
note "restarted at the stored placement $expected"
close_and_expect_clean_exit "$pid" "$folder"

echo "the configuration folder unwritable too"
locked="$harness_work/locked"
mkdir -p "$locked"
chmod 0755 "$locked"
rm -f "$folder/stderr.txt"
start_program "$folder" "$kNobody" XDG_CONFIG_HOME="$locked/config" HOME="$locked"
pid=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window within ${kWindowLimitMs} ms: $(head -c 800 "$folder/stderr.txt")"
note "window after ${window_ms} ms"
expect_running_without_message_box "$pid" "$kWatchMs"
close_and_expect_clean_exit "$pid" "$folder"
[ -z "$(ls -A "$locked")" ] || fail "something was written into the unwritable folder: $(ls -A "$locked")"
[ ! -e "$folder/program/corvane-control.ini" ] || fail "a settings file appeared beside the program"
note "no message box, closed with status 0 after ${close_ms} ms, nothing written"

readonly kFirstModule=10.1.2.3 kSecondModule=10.1.2.200

# The drive helpers report through the harness, and click as a person does.
cv_fail() {
    fail "$@"
}
cv_click() {
    xdotool mousemove --window "$1" "$2" "$3" mousedown 1 sleep 0.1 mouseup 1
}

# installed_copy NAME LOCAL_IP: a copy installed by root with a settings file of two
# modules beside it; prints the folder. The file's pristine bytes are kept beside.
installed_copy() {
    local folder
    folder="$(make_run_folder "$1" "$kNobody")"
    chown root: "$folder/program" "$folder/program/corvane-control"
    chmod 0755 "$folder/program" "$folder/program/corvane-control"
    printf '; put here by the administrator\r\n[Config]\r\nLocalIP=%s\r\n[List]\r\nTotal=2\r\nIP0=%s\r\nMAC0=00:11:22:33:44:55\r\nIP1=%s\r\nMAC1=00:11:22:33:44:66\r\n' \
        "$2" "$(cv_stored_ip "$kFirstModule")" "$(cv_stored_ip "$kSecondModule")" \
        >"$folder/program/corvane-control.ini" || fail "cannot write the installed settings file"
    chmod 0644 "$folder/program/corvane-control.ini"
    cp "$folder/program/corvane-control.ini" "$folder/installed.ini"
    echo "$folder"
}

expect_installed_file_unchanged() {
    cmp -s "$1/program/corvane-control.ini" "$1/installed.ini" ||
        fail "the installed settings file changed"
}

# expect_values FILE SECTION/KEY=VALUE...
expect_values() {
    local file="$1" pair name
    shift
    for pair in "$@"; do
        name="${pair%%=*}"
        [ "$(ini_value "$file" "${name%%/*}" "${name#*/}")" = "${pair#*=}" ] ||
            fail "$file: $name is '$(ini_value "$file" "${name%%/*}" "${name#*/}")', not '${pair#*=}'"
    done
}

# open_installed FOLDER: starts the copy as nobody and waits for its main window (CV_MAIN).
open_installed() {
    start_program "$1" "$kNobody" XDG_CONFIG_HOME="$1/home/config"
    pid=$started_pid
    wait_for_window "$kMainTitle" "$kWindowLimitMs" ||
        fail "no window within ${kWindowLimitMs} ms: $(head -c 800 "$1/stderr.txt")"
    CV_MAIN="$(cv_wait_window "^$kMainTitle\$" 5)" || fail "the main window is not visible"
}

# expect_rows ICONS: the table shows exactly these rows (by their state icons).
expect_rows() {
    cv_settle "$CV_MAIN"
    [ "$(cv_main_row_icons)" = "$1" ] ||
        fail "the table shows the rows '$(cv_main_row_icons)', not '$1'"
}

echo "a device list installed beside the program"
if ! command -v xdotool >/dev/null || ! command -v import >/dev/null; then
    note "skipped (needs xdotool and ImageMagick's import to read and drive the window)"
    echo "PASS"
    exit 0
fi
lab_ip="$(cv_stored_ip "$CORVANE_LAB_PROGRAM_ADDRESS")"
installed="$(installed_copy installed-list "$lab_ip")"
copy="$installed/home/config/corvane-control/corvane-control.ini"
open_installed "$installed"
cv_learn_units "$CV_MAIN" || fail "the main window did not open at its default size"
expect_rows "grey grey"
[ ! -e "$copy" ] || fail "opening alone made the per-user file"
note "two modules shown from the installed file; no per-user file after opening"
cv_main_select_row 0
cv_main_click remove
box="$(cv_wait_window '^Corvane Manager$' 3 "$CV_MAIN")" || fail "Remove asked nothing"
cv_keys "$box" alt+y
cv_wait_window_gone "$box" 3 || fail "Alt+Y did not answer the question"
cv_wait_until 5 test -f "$copy" || fail "the Remove made no per-user file"
expect_values "$copy" List/Total=1 "List/IP0=$(cv_stored_ip "$kSecondModule")" "Config/LocalIP=$lab_ip"
[ "$(stat -c %U "$copy")" = "$kNobody" ] || fail "the per-user file is not the user's"
expect_installed_file_unchanged "$installed"
expect_rows "grey"
close_and_expect_clean_exit "$pid" "$installed"
expect_installed_file_unchanged "$installed"
note "after Remove the per-user file holds 1 module, the installed file is unchanged"

echo "the next start reads the per-user file"
open_installed "$installed"
expect_rows "grey"
close_and_expect_clean_exit "$pid" "$installed"
expect_installed_file_unchanged "$installed"
note "one module shown; the installed file is unchanged"

echo "an installed address that is not the machine's makes the per-user file at opening"
stale="$(installed_copy stale-address 0)"
open_installed "$stale"
copy="$stale/home/config/corvane-control/corvane-control.ini"
cv_wait_until 5 test -f "$copy" || fail "opening made no per-user file"
expect_values "$copy" "Config/LocalIP=$lab_ip" List/Total=2 List/MAC1=00:11:22:33:44:66
expect_rows "grey grey"
close_and_expect_clean_exit "$pid" "$stale"
expect_installed_file_unchanged "$stale"
note "the per-user file holds the installed list and the lab address; the installed file is unchanged"
echo "PASS"
