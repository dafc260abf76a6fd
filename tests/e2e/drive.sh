# Drives the real corvane-control from the outside, as an operator would: X events
# through xdotool to its windows, screenshots through ImageMagick's import, and
# nothing else. Sourced by the end-to-end tests (tests/e2e) and by
# scripts/make-screenshots; bash only.
#
# The windows lay their controls out in dialog units, which follow the window font:
# a horizontal unit is a quarter of the font's average character width, a vertical
# unit an eighth of its height. The main window opens at 539 x 209 units when no
# placement is stored, so its first size gives both font figures (cv_learn_units);
# every click position below is computed from them, never hard-coded in pixels.
#
# Waits poll with a time limit: for windows, files, log lines and pixels.

# ---- reporting ---------------------------------------------------------------------
cv_log() {
    printf '[%s] %s\n' "$(date +%H:%M:%S.%3N)" "$*" >&2
}

# Overridable: the test sets a handler that saves evidence before it exits.
cv_fail() {
    printf 'FAIL: %s\n' "$*" >&2
    exit 1
}

# cv_expect_eq WHAT ACTUAL EXPECTED
cv_expect_eq() {
    if [ "$2" != "$3" ]; then
        cv_fail "$1: got '$2', expected '$3'"
    fi
}

# ---- polling ------------------------------------------------------------------------
# cv_wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds;
# returns 1 when the time is up.
cv_wait_until() {
    local limit_tenths end
    limit_tenths=$(awk -v s="$1" 'BEGIN { printf "%d", s * 10 }')
    shift
    end=$(( $(date +%s%N) / 100000000 + limit_tenths ))
    while :; do
        "$@" && return 0
        [ $(( $(date +%s%N) / 100000000 )) -ge "$end" ] && return 1
        sleep 0.1
    done
}

# ---- addresses ----------------------------------------------------------------------
# The settings file stores an IPv4 address as the signed 32-bit value whose lowest
# byte is the first octet.
cv_stored_ip() {
    local a b c d value
    IFS=. read -r a b c d <<<"$1"
    value=$(( a | (b << 8) | (c << 16) | (d << 24) ))
    [ "$value" -ge 2147483648 ] && value=$(( value - 4294967296 ))
    echo "$value"
}

# Wire order as lower-case hex, the form of the simulator's log.
cv_ip_hex() {
    local a b c d
    IFS=. read -r a b c d <<<"$1"
    printf '%02x%02x%02x%02x' "$a" "$b" "$c" "$d"
}

# ---- the settings file --------------------------------------------------------------
# cv_ini_get FILE SECTION KEY: the value, or nothing (status 1) when absent. Section
# and key names compare case-insensitively, as the program reads them.
cv_ini_get() {
    [ -f "$1" ] || return 1
    awk -v want_section="$2" -v want_key="$3" '
        BEGIN { want_section = tolower(want_section); want_key = tolower(want_key) }
        { sub(/\r$/, "") }
        /^[ \t]*\[/ {
            name = $0; sub(/^[ \t]*\[[ \t]*/, "", name); sub(/[ \t]*\][ \t]*$/, "", name)
            section = tolower(name); next
        }
        section == want_section && index($0, "=") > 0 {
            key = substr($0, 1, index($0, "=") - 1); gsub(/^[ \t]+|[ \t]+$/, "", key)
            if (tolower(key) == want_key) {
                value = substr($0, index($0, "=") + 1); gsub(/^[ \t]+|[ \t]+$/, "", value)
                print value; found = 1; exit
            }
        }
        END { exit found ? 0 : 1 }' "$1"
}

cv_ini_has() {
    [ "$(cv_ini_get "$1" "$2" "$3")" = "$4" ]
}

# ---- the simulator's datagram log ----------------------------------------------------
# One line per datagram: "SRC:SPORT DST:DPORT LEN HEX".
cv_log_lines() {
    [ -f "$1" ] || return 0
    sed -n 's/.*"src": "\([^"]*\)", "sport": \([0-9]*\), "dst": "\([^"]*\)", "dport": \([0-9]*\), "len": \([0-9]*\), "hex": "\([0-9a-f]*\)".*/\1:\2 \3:\4 \5 \6/p' "$1"
}

# cv_log_count LOG PATTERN: how many lines match the extended regular expression.
cv_log_count() {
    cv_log_lines "$1" | grep -cE "$2"
}

cv_log_has_at_least() {
    [ "$(cv_log_count "$1" "$2")" -ge "$3" ]
}

# cv_wait_log LOG PATTERN COUNT SECONDS
cv_wait_log() {
    cv_wait_until "$4" cv_log_has_at_least "$1" "$2" "$3"
}

# ---- windows ------------------------------------------------------------------------
# Visible windows whose name matches the regular expression, one id a line.
cv_windows() {
    xdotool search --onlyvisible --name "$1" 2>/dev/null
}

cv_is_visible() {
    xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# cv_wait_window REGEX SECONDS [EXCLUDED_ID...]: prints the id of a visible window
# whose name matches and that is none of the excluded ones.
cv_wait_window() {
    local regex="$1" seconds="$2" id excluded found=""
    shift 2
    _cv_pick_window() {
        for id in $(cv_windows "$regex"); do
            for excluded in "$@"; do
                [ "$id" = "$excluded" ] && continue 2
            done
            found="$id"
            return 0
        done
        return 1
    }
    if cv_wait_until "$seconds" _cv_pick_window "$@"; then
        echo "$found"
        return 0
    fi
    return 1
}

cv_wait_window_gone() {
    _cv_gone() { ! cv_is_visible "$1"; }
    cv_wait_until "$2" _cv_gone "$1"
}

# Sets CV_GX, CV_GY, CV_GW, CV_GH to the window's position and size.
cv_geometry() {
    local info
    info="$(xwininfo -id "$1" 2>/dev/null)" || return 1
    CV_GX=$(awk '/Absolute upper-left X:/ { print $4 }' <<<"$info")
    CV_GY=$(awk '/Absolute upper-left Y:/ { print $4 }' <<<"$info")
    CV_GW=$(awk '/Width:/ { print $2 }' <<<"$info")
    CV_GH=$(awk '/Height:/ { print $2 }' <<<"$info")
}

# ---- input --------------------------------------------------------------------------
# At a person's pace: a mouse button is held about 100 ms and a key about 40 ms. An
# instant synthetic click would hide faults in how the program takes its input (a
# command started by a press whose release comes during the command's wait).
readonly CV_HOLD_MOUSE=0.1
readonly CV_HOLD_KEY=0.04

# cv_click WINDOW X Y
cv_click() {
    xdotool mousemove --window "$1" "$2" "$3" mousedown 1 sleep "$CV_HOLD_MOUSE" mouseup 1
    sleep 0.05
}

# cv_double_click WINDOW X Y: two clicks at a person's speed, each held 120 ms.
cv_double_click() {
    xdotool mousemove --window "$1" "$2" "$3" mousedown 1 sleep 0.12 mouseup 1 sleep 0.12 \
        mousedown 1 sleep 0.12 mouseup 1
}

# cv_press_keys KEY...: each key (or chord, "ctrl+a") held down about 40 ms, to whatever
# window has the keyboard focus.
cv_press_keys() {
    local key
    for key in "$@"; do
        xdotool keydown --clearmodifiers "$key" sleep "$CV_HOLD_KEY" keyup "$key"
        sleep "$CV_HOLD_KEY"
    done
}

cv_focus() {
    xdotool windowfocus --sync "$1" 2>/dev/null || xdotool windowfocus "$1"
}

# cv_keys WINDOW KEY...: the keys go to the window through the keyboard, as typed.
cv_keys() {
    local window="$1"
    shift
    cv_focus "$window"
    cv_press_keys "$@"
}

# cv_type WINDOW TEXT: typed as a person types; xdotool holds each key for a quarter of
# the delay and waits as long after it (measured with xev), so 160 gives 40 ms.
cv_type() {
    cv_focus "$1"
    xdotool type --clearmodifiers --delay 160 "$2"
}

# ---- pictures -----------------------------------------------------------------------
cv_shot() {
    import -window "$1" "$2"
}

# cv_pixels WINDOW X Y W H: the region's pixels as ImageMagick text, one a line:
# "X,Y: (R,G,B)  #RRGGBB  ...", after a header line.
cv_pixels() {
    import -window "$1" png:- 2>/dev/null |
        convert - -crop "$4x$5+$2+$3" +repage -depth 8 -alpha off txt:- 2>/dev/null
}

# cv_settle WINDOW: waits (at most 3 s) until two screenshots in a row are equal, so
# a picture is taken after the window has finished painting.
cv_settle() {
    local dir previous=""
    dir="$(mktemp -d)"
    _cv_same() {
        import -window "$1" "$dir/now.png" 2>/dev/null || return 1
        local sum
        sum="$(convert "$dir/now.png" -depth 8 rgb:- 2>/dev/null | md5sum)"
        [ "$sum" = "$previous" ] && return 0
        previous="$sum"
        return 1
    }
    cv_wait_until 3 _cv_same "$1"
    rm -rf "$dir"
}

# cv_dark_pixels WINDOW X Y W H: how many pixels of the region are dark (text, a
# check mark), counted on a fresh screenshot.
cv_dark_pixels() {
    cv_pixels "$@" | awk -F'[(),]' 'NR > 1 && ($3 + $4 + $5) < 300 { n++ } END { print n + 0 }'
}

cv_region_has_dark() {
    [ "$(cv_dark_pixels "$@")" -ge 8 ]
}

# ---- dialog units -------------------------------------------------------------------
CV_CW=""   # average character width of the window font, pixels
CV_CH=""   # character height, pixels

cv_x() { echo $(( ($1 * CV_CW + 2) / 4 )); }
cv_y() { echo $(( ($1 * CV_CH + 4) / 8 )); }

# cv_learn_units MAIN_WINDOW: from the main window's first size (539 x 209 units).
cv_learn_units() {
    local cw ch
    cv_geometry "$1" || return 1
    CV_CW=""
    CV_CH=""
    for cw in $(seq 1 60); do
        if [ $(( (539 * cw + 2) / 4 )) -eq "$CV_GW" ]; then CV_CW=$cw; break; fi
    done
    for ch in $(seq 1 80); do
        if [ $(( (209 * ch + 4) / 8 )) -eq "$CV_GH" ]; then CV_CH=$ch; break; fi
    done
    [ -n "$CV_CW" ] && [ -n "$CV_CH" ]
}

# ---- the main window -----------------------------------------------------------------
CV_MAIN=""   # id of the main window of the running program

# cv_main_point CONTROL: prints "X Y", the centre of a control of the main window in
# window coordinates. The right-hand column keeps its distance from the right edge
# and Close from the bottom-right corner, whatever size the window has.
cv_main_point() {
    local left top width height right_anchor=1 bottom_anchor=0
    case "$1" in
        language) left=460 top=8 width=72 height=12 ;;
        local) left=460 top=28 width=72 height=12 ;;
        check) left=460 top=52 width=72 height=14 ;;
        checkall) left=460 top=68 width=72 height=14 ;;
        ipoutput) left=460 top=88 width=72 height=14 ;;
        watch) left=460 top=108 width=72 height=12 ;;
        add) left=460 top=129 width=72 height=14 ;;
        remove) left=460 top=145 width=72 height=14 ;;
        passport) left=460 top=161 width=72 height=14 ;;
        close) left=460 top=188 width=72 height=14 bottom_anchor=1 ;;
        *) cv_fail "unknown main window control '$1'" ;;
    esac
    cv_geometry "$CV_MAIN"
    local x=$(( $(cv_x "$left") + $(cv_x "$width") / 2 ))
    local y=$(( $(cv_y "$top") + $(cv_y "$height") / 2 ))
    # Drop-down lists are as tall as the style makes them; their centre is near the top.
    [ "$1" = language ] || [ "$1" = local ] && y=$(( $(cv_y "$top") + 10 ))
    # A check box toggles on its box or caption, not on the empty space beside them.
    [ "$1" = watch ] && x=$(( $(cv_x "$left") + 6 ))
    [ "$right_anchor" -eq 1 ] && x=$(( x + CV_GW - $(cv_x 539) ))
    [ "$bottom_anchor" -eq 1 ] && y=$(( y + CV_GH - $(cv_y 209) ))
    echo "$x $y"
}

cv_main_click() {
    local point
    point="$(cv_main_point "$1")"
    # shellcheck disable=SC2086
    cv_click "$CV_MAIN" $point
}

# The vertical centres of the table's rows, top to bottom, in window coordinates,
# found from the dark rims of their state icons (selected or not); the header's
# short "#" is not tall enough to count.
cv_main_row_centres() {
    cv_geometry "$CV_MAIN"
    local left top
    left=$(( $(cv_x 8) + 2 ))
    top=$(cv_y 8)
    cv_pixels "$CV_MAIN" "$left" "$top" 22 "$(( CV_GH - top - 8 ))" |
        awk -F'[(),: ]+' -v top="$top" '
            NR > 1 && ($3 + $4 + $5) < 250 { dark[$2 + 0] = 1 }
            END {
                first = -1
                for (y = 0; y <= 4000; y++) {
                    if (y in dark) { if (first < 0) first = y; last = y; continue }
                    if (first >= 0 && y - last > 2) {
                        if (last - first >= 11) print top + int((first + last) / 2)
                        first = -1
                    }
                }
            }'
}

# cv_main_row_point N|last: prints "X Y" of a row of the device table (0 is the first),
# in its "IP" column, which is never empty whatever the row holds.
cv_main_row_point() {
    local centres y
    centres="$(cv_main_row_centres)"
    if [ "$1" = last ]; then
        y="$(tail -1 <<<"$centres")"
    else
        y="$(sed -n "$(( $1 + 1 ))p" <<<"$centres")"
    fi
    [ -n "$y" ] || cv_fail "the device table has no row $1"
    echo "$(( $(cv_x 8) + 40 + 128 + 40 )) $y"
}

# cv_main_select_row N|last: clicks a row of the device table (0 is the first).
cv_main_select_row() {
    local point
    point="$(cv_main_row_point "$1")" || exit 1
    # shellcheck disable=SC2086
    cv_click "$CV_MAIN" $point
}

# cv_main_pick_entry CONTROL INDEX: opens a drop-down list and picks an entry.
cv_main_pick_entry() {
    cv_main_click "$1"
    sleep 0.3   # the list pops up in a window of its own
    cv_press_keys Home
    local i
    for i in $(seq 1 "$2"); do cv_press_keys Down; done
    cv_press_keys Return
}

# The state icons of the rows, top to bottom, as words: green (output running),
# grey (not queried), red (not answering), yellow (answering, output stopped). A
# selected row's icon is tinted by the selection and shows as nothing.
cv_main_row_icons() {
    cv_geometry "$CV_MAIN"
    local left top height
    left=$(cv_x 8)
    top=$(cv_y 8)
    height=$(( CV_GH - top - 8 ))
    cv_pixels "$CV_MAIN" "$left" "$top" 40 "$height" |
        awk '
            { colour = toupper($3) }
            colour == "#2EB83E" { name = "green" }
            colour == "#9A9A9A" { name = "grey" }
            colour == "#E0302A" { name = "red" }
            colour == "#F2C01E" { name = "yellow" }
            colour != "#2EB83E" && colour != "#9A9A9A" && colour != "#E0302A" && colour != "#F2C01E" { next }
            {
                split($1, at, /[,:]/); y = at[2] + 0
                if (rows == 0 || y - last_y > 3) { rows++; word[rows] = name }
                last_y = y
            }
            END { line = ""; for (i = 1; i <= rows; i++) line = line (i > 1 ? " " : "") word[i]; print line }'
}

# ---- the add-device wizard -----------------------------------------------------------
CV_PAGE_X=""   # where the wizard's page area begins, window coordinates
CV_PAGE_Y=""

# cv_wizard_locate_page WIZARD: finds the page area from the list page's device list,
# whose frame is the first thing left of the middle and the first thing down its own
# left edge (it sits at 4, 44 units on the page).
cv_wizard_locate_page() {
    local wizard="$1" frame_x frame_y
    cv_geometry "$wizard"
    frame_x=$(cv_pixels "$wizard" 0 "$(( CV_GH / 2 ))" "$(( CV_GW / 2 ))" 1 |
        awk -F'[(),: ]+' 'NR > 1 && ($3 + $4 + $5) < 600 { print $1; exit }')
    [ -n "$frame_x" ] || return 1
    frame_y=$(cv_pixels "$wizard" "$frame_x" 0 1 "$(( CV_GH / 2 ))" |
        awk -F'[(),: ]+' 'NR > 1 && ($3 + $4 + $5) < 600 { print $2; exit }')
    [ -n "$frame_y" ] || return 1
    CV_PAGE_X=$(( frame_x - $(cv_x 4) ))
    CV_PAGE_Y=$(( frame_y - $(cv_y 44) ))
}

# cv_page_point LEFT TOP WIDTH HEIGHT (units on the page): the centre, in pixels.
cv_page_point() {
    echo "$(( CV_PAGE_X + $(cv_x "$1") + $(cv_x "$3") / 2 )) $(( CV_PAGE_Y + $(cv_y "$2") + $(cv_y "$4") / 2 ))"
}

# The device list of the list page holds at least one row (dark text below its header).
cv_wizard_list_filled() {
    local x y w
    x=$(( CV_PAGE_X + $(cv_x 4) + 4 ))
    y=$(( CV_PAGE_Y + $(cv_y 44) + CV_CH + 8 ))
    w=$(( $(cv_x 288) - 8 ))
    cv_region_has_dark "$1" "$x" "$y" "$w" "$(( CV_CH + 4 ))"
}

# The check box "My device is not listed here" shows its check mark.
cv_wizard_direct_ticked() {
    local x y
    x=$(( CV_PAGE_X + $(cv_x 4) + 2 ))
    y=$(( CV_PAGE_Y + $(cv_y 128) + 2 ))
    [ "$(cv_dark_pixels "$1" "$x" "$y" 12 "$(( $(cv_y 12) - 4 ))")" -ge 6 ]
}

# cv_ip_field_type WINDOW X Y ADDRESS: clicks into the first octet of an IPv4 field,
# selects what it holds and types the dotted address over it; the field moves on to
# the next octet at each dot.
cv_ip_field_type() {
    cv_click "$1" "$2" "$3"
    cv_keys "$1" ctrl+a
    cv_type "$1" "$4"
}

# ---- the IP output dialog (a fixed layout, controls placed in units from 0, 0) ----------
cv_ipout_point() {
    case "$1" in
        address-first-octet) echo "$(( $(cv_x 60) + $(cv_x 100) / 8 )) $(( $(cv_y 8) + $(cv_y 12) / 2 ))" ;;
        port) echo "$(( $(cv_x 60) + $(cv_x 35) / 2 )) $(( $(cv_y 28) + $(cv_y 12) / 2 ))" ;;
        protocol) echo "$(( $(cv_x 60) + $(cv_x 76) / 2 )) $(( $(cv_y 48) + 8 ))" ;;
        nostuffing) echo "$(( $(cv_x 8) + 6 )) $(( $(cv_y 88) + $(cv_y 12) / 2 ))" ;;
        start) echo "$(( $(cv_x 8) + $(cv_x 72) / 2 )) $(( $(cv_y 116) + $(cv_y 14) / 2 ))" ;;
        stop) echo "$(( $(cv_x 88) + $(cv_x 72) / 2 )) $(( $(cv_y 116) + $(cv_y 14) / 2 ))" ;;
        *) cv_fail "unknown IP output control '$1'" ;;
    esac
}

cv_ipout_click() {
    local point
    point="$(cv_ipout_point "$2")"
    # shellcheck disable=SC2086
    cv_click "$1" $point
}

# ---- the program ------------------------------------------------------------------------
CV_APP_PID=""

# cv_start_program FOLDER LOGFILE [ENV=VALUE...]: starts the copy of corvane-control in
# FOLDER (its settings file lives there) with a private runtime folder for its lock
# beside it (FOLDER-runtime, 0700), so the save dialog shows only the program.
cv_start_program() {
    local folder="$1" log="$2"
    shift 2
    mkdir -p "$folder-runtime" && chmod 700 "$folder-runtime"
    (cd "$folder" && exec env -u LC_ALL -u LANGUAGE -u LC_MESSAGES LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$folder-runtime" QT_QPA_PLATFORM=xcb "$@" \
        "$folder/corvane-control" >>"$log" 2>&1) &
    CV_APP_PID=$!
}

cv_program_running() {
    [ -n "$CV_APP_PID" ] && kill -0 "$CV_APP_PID" 2>/dev/null
}

# cv_wait_program_exit SECONDS: waits for the program to end; its status in CV_APP_STATUS.
_cv_program_ended() {
    ! cv_program_running
}

cv_wait_program_exit() {
    cv_wait_until "$1" _cv_program_ended || return 1
    wait "$CV_APP_PID"
    CV_APP_STATUS=$?
    CV_APP_PID=""
}

cv_stop_program() {
    if cv_program_running; then
        kill -TERM "$CV_APP_PID" 2>/dev/null
        cv_wait_until 3 _cv_program_ended || kill -KILL "$CV_APP_PID" 2>/dev/null
        wait "$CV_APP_PID" 2>/dev/null
    fi
    CV_APP_PID=""
}

# ---- the simulated modules ------------------------------------------------------------------
CV_MODSIM_PID=""

# cv_start_modsim FOLDER CONFIG_TEXT: corvane-modsim on the modules side of segment 1,
# logging to FOLDER/modsim.jsonl; waits until it is ready.
cv_start_modsim() {
    local folder="$1"
    mkdir -p "$folder"
    printf '%s\n' "$2" >"$folder/modules.conf"
    rm -f "$folder/ready"
    # shellcheck disable=SC2086
    $CORVANE_LAB_MODULES_EXEC "$CORVANE_MODSIM" --config "$folder/modules.conf" \
        --log "$folder/modsim.jsonl" --ready-file "$folder/ready" >"$folder/modsim.out" 2>&1 &
    CV_MODSIM_PID=$!
    cv_wait_until 10 test -f "$folder/ready"
}

cv_stop_modsim() {
    if [ -n "$CV_MODSIM_PID" ]; then
        kill -TERM "$CV_MODSIM_PID" 2>/dev/null
        wait "$CV_MODSIM_PID" 2>/dev/null
    fi
    CV_MODSIM_PID=""
}
