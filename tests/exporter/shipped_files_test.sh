#!/usr/bin/env bash
# What ships beside corvane_exporter, judged by the tools that will read it:
#   shipped_files_test.sh rules   promtool checks the alert rules and the example
#                                 prometheus.yml, and runs the rules' unit tests (which
#                                 fire ModuleDown and OutputStopped)
#   shipped_files_test.sh unit    systemd-analyze verify on the service unit, run on the
#                                 built exporter, with the example credentials drop-in;
#                                 any complaint fails; and the command
#                                 line systemd builds from the unit and its environment
#                                 file, for the shipped file, none, and an operator's
#   shipped_files_test.sh service in the network lab: the exporter started from that
#                                 command line with an operator's environment file
#                                 serves its settings file's modules; Prometheus with the
#                                 example configuration gives corvane_module_info one set
#                                 of mac and position labels; a missing settings file is
#                                 exit status 2, which the unit does not restart
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

# Prints, one per line, the command line systemd runs for `unit` with environment file
# `env_file` (none if it does not exist): Environment= sets the defaults, the file's
# values win; in ExecStart a word "${NAME}" stays one word and a lone $NAME is split at
# white space, as systemd.service(5) describes. The unit's ExecStart uses no quoting.
unit_command() {
    local unit="$1" env_file="$2" line name value word
    local -A vars=()
    local -a argv=()
    set -f
    while IFS= read -r line; do
        line="${line#Environment=}"
        vars["${line%%=*}"]="${line#*=}"
    done < <(grep '^Environment=' "$unit")
    if [ -f "$env_file" ]; then
        while IFS= read -r line; do
            [[ "$line" =~ ^[[:space:]]*(#|$) ]] && continue
            name="${line%%=*}"
            value="${line#*=}"
            [[ "$value" =~ ^\"(.*)\"$ ]] && value="${BASH_REMATCH[1]}"
            vars["$name"]="$value"
        done <"$env_file"
    fi
    for word in $(sed -n 's/^ExecStart=//p' "$unit"); do
        if [[ "$word" =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
            # shellcheck disable=SC2206 # split at white space, as systemd does
            argv+=(${vars[${BASH_REMATCH[1]}]:-})
            continue
        fi
        while [[ "$word" =~ \$\{([A-Za-z_][A-Za-z0-9_]*)\} ]]; do
            word="${word/"${BASH_REMATCH[0]}"/${vars[${BASH_REMATCH[1]}]:-}}"
        done
        argv+=("$word")
    done
    set +f
    printf '%s\n' "${argv[@]}"
}

# An operator's /etc/default/corvane-exporter: the shipped one with its two settings
# changed, as its comments say.
operator_env_file() {
    local settings="$1" args="$2"
    sed -e "s|^CORVANE_SETTINGS=.*|CORVANE_SETTINGS=$settings|" -e "s|^ARGS=.*|ARGS=\"$args\"|" \
        "$source_dir/data/corvane-exporter.default"
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
    # With the example drop-in that hands it the TLS files as credentials.
    mkdir "$work/corvane-exporter.service.d"
    cp "$source_dir/data/corvane-exporter-credentials.conf" "$work/corvane-exporter.service.d/"
    said="$(SYSTEMD_UNIT_PATH="$work:" systemd-analyze verify --man=no "$work/corvane-exporter.service" 2>&1)"
    local status=$?
    echo "$said"
    [ "$status" -eq 0 ] && [ -z "$said" ] || fail "systemd-analyze verify (status $status)"
    grep -q '^LoadCredential=tls.key:' "$work/corvane-exporter.service.d/corvane-exporter-credentials.conf" ||
        fail "the example drop-in hands over no key"
    for wanted in DynamicUser=yes ProtectSystem=strict NoNewPrivileges=yes \
        "RestrictAddressFamilies=AF_INET AF_NETLINK AF_UNIX" RestartPreventExitStatus=2 \
        LimitNOFILE=8192; do
        grep -qx "$wanted" "$work/corvane-exporter.service" || fail "the unit lacks $wanted"
    done
    # The settings file is named once whatever the environment file holds; each row:
    # environment file | the command line, words joined by "|".
    local shipped="$source_dir/data/corvane-exporter.default" env_file expected
    operator_env_file "/srv/site a/corvane-control.ini" "--web.listen-address=:9730 --from 10.1.2.3" \
        >"$work/operator"
    while IFS='>' read -r env_file expected; do
        said="$(unit_command "$source_dir/data/corvane-exporter.service" "$env_file" | paste -sd'|')"
        [ "$said" = "$expected" ] || fail "environment file $env_file: '$said', not '$expected'"
    done <<ROWS
$shipped>corvane_exporter|--settings|/etc/corvane-control/corvane-control.ini
$work/none>corvane_exporter|--settings|/etc/corvane-control/corvane-control.ini
$work/operator>corvane_exporter|--settings|/srv/site a/corvane-control.ini|--web.listen-address=:9730|--from|10.1.2.3
ROWS
}

# The settings file value of an address: the signed decimal of its bytes in memory order.
stored_address() {
    local a b c d value
    IFS=. read -r a b c d <<<"$1"
    value=$((a + (b << 8) + (c << 16) + (d << 24)))
    [ "$value" -ge $((1 << 31)) ] && value=$((value - (1 << 32)))
    echo "$value"
}

free_port() {
    local port
    for port in $(shuf -i 20000-60000 -n 20); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" || { [ $? -eq 7 ] && echo "$port" && return 0; }
    done
    return 1
}

# Starts "$@" in the background with its output in $2's log; sets $started to its PID.
start_logged() {
    local log="$1"
    shift
    "$@" >"$log" 2>&1 &
    started=$!
}

check_service() {
    [ "${CORVANE_LAB:-}" = 1 ] || skip "not inside the network lab (run through tests/lab/lab-run)"
    command -v prometheus >/dev/null || skip "prometheus is missing (scripts/setup-packages installs it)"
    local exporter="${CORVANE_EXPORTER:?CORVANE_EXPORTER names the built corvane_exporter}"
    local unit="$source_dir/data/corvane-exporter.service"
    local work started exporter_pid prometheus_pid=""
    work="$(mktemp -d)"
    trap 'kill $exporter_pid $prometheus_pid 2>/dev/null; wait; rm -rf "$work"' RETURN
    # Three listed modules in the lab's module subnet, in a folder whose name has a space.
    local prefix="${CORVANE_LAB_PROGRAM_ADDRESS%.*.*}" settings="$work/site a/corvane-control.ini" i
    mkdir "$work/site a"
    {
        echo "[List]"
        echo "Total=3"
        for i in 1 2 3; do
            echo "IP$((i - 1))=$(stored_address "$prefix.64.1$i")"
            echo "MAC$((i - 1))=02:C0:7A:DE:00:0$i"
        done
    } >"$settings"
    local port
    port="$(free_port)" || fail "no free loopback port"
    operator_env_file "$settings" "--web.listen-address=127.0.0.1:$port" >"$work/default"
    local -a argv
    mapfile -t argv < <(unit_command "$unit" "$work/default")
    argv[0]="$exporter"
    start_logged "$work/exporter.log" "${argv[@]}"
    exporter_pid=$started
    curl -sf --retry 20 --retry-connrefused --retry-delay 1 -o "$work/targets" \
        "http://127.0.0.1:$port/targets" || { cat "$work/exporter.log"; fail "the exporter does not answer /targets"; }
    for i in 1 2 3; do
        grep -qF "\"$prefix.64.1$i\"" "$work/targets" || fail "/targets lacks $prefix.64.1$i: $(cat "$work/targets")"
    done

    # The example configuration as shipped, only faster and aimed at this exporter.
    cp "$source_dir/data/corvane-rules.yml" "$work/"
    sed -e "s/127\.0\.0\.1:9730/127.0.0.1:$port/" -e 's/scrape_interval: .*/scrape_interval: 1s/' \
        -e 's/scrape_timeout: .*/scrape_timeout: 1s/' -e 's/refresh_interval: .*/refresh_interval: 1s/' \
        "$source_dir/data/prometheus.yml" >"$work/prometheus.yml"
    local api_port
    api_port="$(free_port)" || fail "no free loopback port"
    start_logged "$work/prometheus.log" prometheus --config.file="$work/prometheus.yml" \
        --storage.tsdb.path="$work/tsdb" --web.listen-address="127.0.0.1:$api_port"
    prometheus_pid=$started
    local deadline=$((SECONDS + 45)) series=0
    while [ "$SECONDS" -lt "$deadline" ] && [ "$series" -lt 3 ]; do
        sleep 0.25
        curl -sf -o "$work/info" "http://127.0.0.1:$api_port/api/v1/query?query=corvane_module_info" || continue
        series="$(grep -o '"__name__":"corvane_module_info"' "$work/info" | wc -l)"
    done
    [ "$series" -eq 3 ] || { tail -5 "$work/prometheus.log"; fail "Prometheus shows $series modules' corvane_module_info, not 3"; }
    ! grep -q exported_ "$work/info" || fail "corvane_module_info has two sets of labels: $(cat "$work/info")"
    for i in 1 2 3; do
        grep -qF "\"mac\":\"02:C0:7A:DE:00:0$i\"" "$work/info" && grep -qF "\"position\":\"$i\"" "$work/info" ||
            fail "corvane_module_info lacks module $i's mac or position: $(cat "$work/info")"
    done

    # A settings file that does not exist is a usage error, which the unit does not restart.
    kill "$exporter_pid"
    wait "$exporter_pid" || fail "the exporter did not exit 0 on SIGTERM"
    operator_env_file "$work/gone.ini" "--web.listen-address=127.0.0.1:$port" >"$work/default"
    mapfile -t argv < <(unit_command "$unit" "$work/default")
    argv[0]="$exporter"
    "${argv[@]}" >"$work/exporter.log" 2>&1
    local status=$?
    [ "$status" -eq 2 ] || fail "a missing settings file gives status $status, not 2"
    grep -qx "RestartPreventExitStatus=2" "$unit" || fail "the unit restarts after a usage error"
}

case "${1:-}" in
rules | unit | service) "check_$1" ;;
*) fail "usage: $0 rules|unit|service" ;;
esac
echo PASS
