#!/usr/bin/env bash
# An installed copy in a folder its user cannot write. Run as the user nobody from a
# folder owned by root (mode 0755):
#   1. the settings go to $XDG_CONFIG_HOME/corvane-control/corvane-control.ini, the
#      placement stored there at close is what the next start restores, and nothing is
#      written beside the program;
#   2. with the configuration folder unwritable too, the program still opens, shows no
#      message box, and ends with status 0 and no crash when closed.
set -uo pipefail
source "$(dirname "$0")/program_harness.sh"
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
echo "PASS"
