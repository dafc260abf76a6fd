#!/usr/bin/env bash
# One copy per user, with the real program: a second start ends at once, silently and
# with status 0 while the first runs; a start after the first has ended (closed, or
# killed with SIGKILL) succeeds; of twenty simultaneous starts exactly one opens a window
# and nineteen end with status 0.
set -uo pipefail
source "$(dirname "$0")/program_harness.sh"
enter_display_and_lab "$@"
make_work_folder

readonly kSecondStartLimitMs=1000
readonly kSimultaneous=20
readonly kSettleMs=1500  # a late second window would have appeared by then

folder="$(make_run_folder copy)"

echo "first start, then a second one while it runs"
start_program "$folder"
first=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window within ${kWindowLimitMs} ms: $(head -c 800 "$folder/stderr.txt")"
note "window after ${window_ms} ms"
: >"$folder/stdout.txt"
: >"$folder/stderr.txt"
start_program "$folder"
wait_for_exit "$started_pid" "$kSecondStartLimitMs" ||
    fail "the second start still runs after ${kSecondStartLimitMs} ms"
[ "$exit_status" -eq 0 ] || fail "the second start ended with status $exit_status"
note "second start ended after ${exit_ms} ms with status 0"
[ ! -s "$folder/stdout.txt" ] && [ ! -s "$folder/stderr.txt" ] ||
    fail "the second start was not silent: $(cat "$folder/stdout.txt" "$folder/stderr.txt")"
expect_running_without_message_box "$first" 500
[ "$(window_count "$kMainTitle")" -eq 1 ] || fail "more than one main window"

echo "a start after the first was closed"
close_and_expect_clean_exit "$first" "$folder"
start_program "$folder"
second=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window after the first copy was closed: $(head -c 800 "$folder/stderr.txt")"
note "window after ${window_ms} ms"

echo "a start after the running copy was killed with SIGKILL"
kill -KILL "$second"
# (bash's "Killed" notice for this expected end is kept out of the output)
wait_for_exit "$second" "$kExitLimitMs" 2>/dev/null || fail "the killed copy did not end"
start_program "$folder"
third=$started_pid
wait_for_window "$kMainTitle" "$kWindowLimitMs" || fail "no window after the first copy was killed: $(head -c 800 "$folder/stderr.txt")"
note "window after ${window_ms} ms"
close_and_expect_clean_exit "$third" "$folder"

echo "$kSimultaneous simultaneous starts"
# Each start waits for the same file, so they all begin within a few milliseconds.
go="$harness_work/go"
pids=()
for i in $(seq 1 "$kSimultaneous"); do
    (while [ ! -e "$go" ]; do sleep 0.001; done
     # shellcheck disable=SC2046  # one NAME=VALUE word a line, without blanks
     exec env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" XAUTHORITY="${XAUTHORITY:-}" LANG=C LC_ALL=C \
         QT_QPA_PLATFORM=xcb HOME="$folder/home" XDG_RUNTIME_DIR="$folder/runtime" \
         $(sanitizer_settings) "$folder/program/corvane-control" >"$harness_work/out.$i" 2>&1) &
    pids+=($!)
    harness_program_pids+=($!)
done
sleep 0.2
started_ms="$(now_ms)"
touch "$go"
wait_for_window "$kMainTitle" $((kWindowLimitMs * 3)) || fail "no window from $kSimultaneous starts: $(head -c 800 "$folder/stderr.txt")"
note "first window after ${window_ms} ms"
deadline=$(($(now_ms) + kSettleMs))
while [ "$(now_ms)" -le "$deadline" ]; do
    [ "$(window_count "$kMainTitle")" -le 1 ] || fail "$(window_count "$kMainTitle") main windows"
    sleep 0.05
done
running=()
ended_zero=0
statuses=""
for i in "${!pids[@]}"; do
    pid=${pids[$i]}
    if has_ended "$pid"; then
        wait "$pid"
        status=$?
        statuses+="$status "
        [ "$status" -eq 0 ] && ended_zero=$((ended_zero + 1))
        [ ! -s "$harness_work/out.$((i + 1))" ] ||
            fail "a refused start printed: $(cat "$harness_work/out.$((i + 1))")"
    else
        running+=("$pid")
    fi
done
windows="$(window_count "$kMainTitle")"
note "result: $windows window, ${#running[@]} running, $ended_zero of $((kSimultaneous - ${#running[@]})) ended with status 0 (statuses: ${statuses:-none})"
[ "$windows" -eq 1 ] || fail "$windows main windows instead of one"
[ "${#running[@]}" -eq 1 ] || fail "${#running[@]} copies run instead of one"
[ "$ended_zero" -eq $((kSimultaneous - 1)) ] || fail "only $ended_zero starts ended with status 0"
close_and_expect_clean_exit "${running[0]}" "$folder"
echo "PASS"
