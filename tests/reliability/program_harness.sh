# Shared by the program-level reliability scripts (sourced, not run). They start the real
# corvane-control, copied into a fresh folder so that its settings file sits beside it,
# on an Xvfb display and on the program side of a network lab, so the program sees lab
# adapters only and never the machine's real network.
#
# The scripts take their tools from the environment that CTest sets:
#   CORVANE_PROGRAM       the built corvane-control
#   CORVANE_CLOSE_WINDOW  the close-window helper (a window manager's close box)
#   CORVANE_LAB_RUN       tests/lab/lab-run
# and CORVANE_RELIABILITY_WINDOW_MS (default 1000), the time allowed from a start to
# its window. Exit status: 0 passed, 1 failed, 77 skipped (with the reason).

readonly kMainTitle="Corvane Control"
readonly kMessageBoxTitle="Corvane Manager"
readonly kSkip=77
readonly kWindowLimitMs="${CORVANE_RELIABILITY_WINDOW_MS:-1000}"
readonly kExitLimitMs=5000
readonly kNobody=nobody

harness_work=""
harness_display_work=""
harness_xvfb_pid=""
harness_program_pids=()

fail() {
    echo "FAIL: $*" >&2
    if [ -n "$harness_xvfb_pid" ] && ! kill -0 "$harness_xvfb_pid" 2>/dev/null; then
        echo "(the display server $DISPLAY, PID $harness_xvfb_pid, is gone)" >&2
    fi
    exit 1
}

skip() {
    echo "SKIP: $*" >&2
    exit "$kSkip"
}

note() {
    echo "  $*"
}

now_ms() {
    date +%s%3N
}

# Runs the calling script again inside the network lab and returns only there, with
# an Xvfb display of its own started on the lab's program side. Clients in the lab reach
# it through its abstract socket, which is private to the lab's network namespace, so
# another X server elsewhere that reuses the display number (and replaces the socket
# file in /tmp/.X11-unix) cannot take these tests' clients away.
enter_display_and_lab() {
    if [ -z "${CORVANE_RELIABILITY_INSIDE:-}" ]; then
        [ -x "${CORVANE_PROGRAM:-}" ] || skip "CORVANE_PROGRAM does not name the built corvane-control"
        [ -x "${CORVANE_CLOSE_WINDOW:-}" ] || skip "CORVANE_CLOSE_WINDOW does not name the close-window helper"
        [ -x "${CORVANE_LAB_RUN:-}" ] || skip "CORVANE_LAB_RUN does not name tests/lab/lab-run"
        local tool
        for tool in Xvfb xwininfo xauth; do
            command -v "$tool" >/dev/null || skip "$tool is missing (packages xvfb, x11-utils, xauth)"
        done
        export CORVANE_RELIABILITY_INSIDE=1
        exec "$CORVANE_LAB_RUN" -- "$0" "$@"
    fi
    trap harness_cleanup EXIT
    start_display
}

# Starts Xvfb on a free display number chosen at random from a range that servers
# picking the lowest free number do not reach; exports DISPLAY and XAUTHORITY.
start_display() {
    harness_display_work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-reliability-x-XXXXXX")" ||
        skip "no temporary folder"
    export XAUTHORITY="$harness_display_work/Xauthority"
    local cookie attempt number
    cookie="$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')"
    for attempt in 1 2 3 4 5; do
        number=$((300 + RANDOM % 600))
        [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
        xauth -q -f "$XAUTHORITY" add ":$number" . "$cookie" 2>/dev/null || skip "xauth cannot write a cookie"
        # -noreset: a server that resets when its last client leaves refuses clients
        # for a moment, and the readiness check is such a client.
        Xvfb ":$number" -screen 0 1280x1024x24 -nolisten tcp -noreset -auth "$XAUTHORITY" \
            >"$harness_display_work/xvfb.log" 2>&1 &
        harness_xvfb_pid=$!
        export DISPLAY=":$number"
        local tenth
        for tenth in $(seq 1 100); do
            xwininfo -root >/dev/null 2>&1 && return 0
            kill -0 "$harness_xvfb_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$harness_xvfb_pid" 2>/dev/null
        wait "$harness_xvfb_pid" 2>/dev/null
        harness_xvfb_pid=""
    done
    skip "Xvfb did not start ($(tail -2 "$harness_display_work/xvfb.log" 2>/dev/null))"
}

# A fresh working folder for the whole script, removed at exit.
make_work_folder() {
    harness_work="$(mktemp -d "${TMPDIR:-/tmp}/corvane-reliability-XXXXXX")" ||
        fail "cannot make a working folder"
    # Other users (nobody) must be able to reach their folders inside it.
    chmod 0755 "$harness_work"
}

# Kills what the script started (by PID), stops its display, removes its folders.
harness_cleanup() {
    local status=$? pid
    trap - EXIT
    for pid in "${harness_program_pids[@]}"; do
        kill -KILL "$pid" 2>/dev/null
    done
    if [ -n "$harness_xvfb_pid" ]; then
        kill "$harness_xvfb_pid" 2>/dev/null
        wait "$harness_xvfb_pid" 2>/dev/null
    fi
    [ -n "$harness_display_work" ] && rm -rf "$harness_display_work"
    if [ -n "$harness_work" ]; then
        if [ "$status" -ne 0 ] && [ "$status" -ne "$kSkip" ] && [ -n "${CORVANE_RELIABILITY_KEEP:-}" ]; then
            echo "kept for inspection: $harness_work" >&2
        else
            rm -rf "$harness_work"
        fi
    fi
    exit "$status"
}

can_switch_to_nobody() {
    [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id "$kNobody" >/dev/null 2>&1 &&
        setpriv --reuid="$kNobody" --regid="$(id -g "$kNobody")" --clear-groups true 2>/dev/null
}

# make_run_folder NAME [OWNER]: a folder holding a copy of the program, with a private
# runtime folder (the single-instance lock lives there) and a home folder beside it.
# Prints the folder.
make_run_folder() {
    local name="$1" owner="${2:-}" folder="$harness_work/$1"
    mkdir -p "$folder/program" "$folder/runtime" "$folder/home" || fail "cannot make $folder"
    cp "$CORVANE_PROGRAM" "$folder/program/corvane-control" || fail "cannot copy the program"
    chmod 0700 "$folder/runtime"
    if [ -n "$owner" ]; then
        chown -R "$owner:" "$folder" || fail "cannot give $folder to $owner"
        # The display's cookie, readable by that user.
        xauth extract "$folder/xauthority" "$DISPLAY" 2>/dev/null
        chown "$owner:" "$folder/xauthority" 2>/dev/null
    fi
    echo "$folder"
}

settings_file_of() {
    echo "$1/program/corvane-control.ini"
}

# start_program FOLDER [USER] [VAR=VALUE...]: starts the copy in FOLDER in the
# background, in a clean environment (English, the X display, the folder's private
# runtime and home folders); sets started_pid and started_ms.
# The sanitizers' own settings (the asan preset's), as NAME=VALUE words for env: the
# program starts in a clean environment but for these.
sanitizer_settings() {
    local name
    for name in ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS; do
        [ -n "${!name:-}" ] && printf '%s=%s\n' "$name" "${!name}"
    done
}

start_program() {
    local folder="$1" user="${2:-}"
    shift 2 2>/dev/null || shift $#
    local xauthority="${XAUTHORITY:-}"
    [ -n "$user" ] && xauthority="$folder/xauthority"
    # shellcheck disable=SC2046  # one NAME=VALUE word a line, without blanks
    local environment=(env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" XAUTHORITY="$xauthority"
                       LANG=C LC_ALL=C LANGUAGE= QT_QPA_PLATFORM=xcb
                       HOME="$folder/home" XDG_RUNTIME_DIR="$folder/runtime"
                       $(sanitizer_settings) "$@")
    local switch=()
    [ -n "$user" ] && switch=(setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups --)
    started_ms="$(now_ms)"
    "${switch[@]}" "${environment[@]}" "$folder/program/corvane-control" \
        >>"$folder/stdout.txt" 2>>"$folder/stderr.txt" &
    started_pid=$!
    harness_program_pids+=("$started_pid")
}

window_count() {
    xwininfo -root -tree 2>/dev/null | grep -cF "\"$1\": ("
}

# wait_for_window TITLE LIMIT_MS: polls until a window of that title exists; sets
# window_ms to the time since the last start. False when none came within the limit.
wait_for_window() {
    local title="$1" limit="$2" deadline
    deadline=$(($(now_ms) + limit))
    while [ "$(now_ms)" -le "$deadline" ]; do
        if xwininfo -name "$title" >/dev/null 2>&1; then
            window_ms=$(($(now_ms) - started_ms))
            return 0
        fi
        sleep 0.01
    done
    return 1
}

# True when the process has ended (bash reaps its children as they end; the state
# check covers a zombie that has not been reaped yet).
has_ended() {
    ! kill -0 "$1" 2>/dev/null || grep -qE '^[0-9]+ \(.*\) Z' "/proc/$1/stat" 2>/dev/null
}

# wait_for_exit PID LIMIT_MS: sets exit_status and exit_ms (since the last start);
# false when the process still runs at the limit.
wait_for_exit() {
    local pid="$1" limit="$2" deadline
    deadline=$(($(now_ms) + limit))
    while ! has_ended "$pid"; do
        [ "$(now_ms)" -le "$deadline" ] || return 1
        sleep 0.01
    done
    exit_ms=$(($(now_ms) - started_ms))
    wait "$pid" 2>/dev/null
    exit_status=$?
    return 0
}

# Closes the main window through its close box and expects a clean exit with status 0;
# sets close_ms, the time from the request to the end of the process.
close_and_expect_clean_exit() {
    local pid="$1" folder="$2" asked
    asked="$(now_ms)"
    "$CORVANE_CLOSE_WINDOW" "$kMainTitle" || fail "no main window to close"
    wait_for_exit "$pid" "$kExitLimitMs" || fail "the program did not end within ${kExitLimitMs} ms of its close"
    close_ms=$(($(now_ms) - asked))
    [ "$exit_status" -eq 0 ] || fail "the program ended with status $exit_status"
    expect_no_crash_traces "$folder"
}

expect_no_crash_traces() {
    local folder="$1"
    if grep -qE "Segmentation fault|core dumped|AddressSanitizer|runtime error:|Aborted|terminate called" \
        "$folder/stderr.txt" 2>/dev/null; then
        fail "crash traces in the program's output: $(head -c 2000 "$folder/stderr.txt")"
    fi
    if compgen -G "$folder/program/core*" >/dev/null || compgen -G "$folder/home/core*" >/dev/null; then
        fail "a core file was left in $folder"
    fi
}

# Watches for a message box for LIMIT_MS while the program keeps running.
expect_running_without_message_box() {
    local pid="$1" limit="$2" deadline
    deadline=$(($(now_ms) + limit))
    while [ "$(now_ms)" -le "$deadline" ]; do
        has_ended "$pid" && fail "the program ended by itself"
        [ "$(window_count "$kMessageBoxTitle")" -eq 0 ] ||
            fail "a message box (\"$kMessageBoxTitle\") appeared"
        sleep 0.05
    done
    [ "$(window_count "$kMainTitle")" -eq 1 ] || fail "the main window is gone"
}

# The value of KEY in the file's first section SECTION, as the program reads it (for
# the plain files these tests make: no quotes, no duplicates).
ini_value() {
    local file="$1" section="$2" key="$3"
    awk -v section="[$section]" -v key="$key" '
        { sub(/\r$/, "") }
        /^\[/ { inside = (tolower($0) == tolower(section)); next }
        inside && index($0, "=") {
            name = substr($0, 1, index($0, "=") - 1)
            if (tolower(name) == tolower(key)) { print substr($0, index($0, "=") + 1); exit }
        }' "$file"
}
