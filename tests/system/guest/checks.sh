# Shared by the checks that run inside the test's container or virtual
# machine (sourced by bash): counting checks, waiting, the virtual board and
# its simulated BMC, the installed service. Everything here acts on the
# guest only.

payload="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
board_state=/run/nk-board
board_prefix="$board_state/board"
board_in="$board_state/in"
board_out="$board_state/out"
package="$payload/nodekeeper.deb"
unit=nodekeeper.service

passed=0
failed=0

note() { printf '  %s\n' "$*"; }

pass() {
    passed=$((passed + 1))
    printf 'PASS: %s\n' "$1"
}

fail() {
    failed=$((failed + 1))
    printf 'FAIL: %s\n' "$1"
    shift
    local line
    for line in "$@"; do note "$line"; done
}

# check "what" command...: passes when the command succeeds; its output is
# shown when it fails.
check() {
    local what="$1" out
    shift
    if out="$("$@" 2>&1)"; then
        pass "$what"
    else
        fail "$what" "command: $*"
        [ -z "$out" ] || printf '%s\n' "$out" | sed 's/^/    /'
    fi
}

# check_fails "what" command...: passes when the command fails.
check_fails() {
    local what="$1"
    shift
    if "$@" >/dev/null 2>&1; then
        fail "$what" "command succeeded: $*"
    else
        pass "$what"
    fi
}

# check_equal "what" expected actual
check_equal() {
    if [ "$2" = "$3" ]; then
        pass "$1"
    else
        fail "$1" "expected: $2" "found:    $3"
    fi
}

# check_between "what" low high value (numbers, inclusive)
check_between() {
    if awk -v lo="$2" -v hi="$3" -v v="$4" 'BEGIN { exit !(v != "" && v >= lo && v <= hi) }'; then
        pass "$1 ($4)"
    else
        fail "$1" "expected between $2 and $3, found '$4'"
    fi
}

# summary lane: the closing line; exit status 0 when nothing failed.
summary() {
    printf 'system-test %s: %d passed, %d failed\n' "$1" "$passed" "$failed"
    [ "$failed" -eq 0 ]
}

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# wait_until seconds command...: true once the command succeeds.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@" >/dev/null 2>&1; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# --- the virtual board and its BMC -------------------------------------------

# start_board [bmc-sim options]: mounts the board in a service of its own and
# binds it over the node's device and sysfs paths.
start_board() {
    mkdir -p "$board_state"
    rm -f "$board_in" "$board_out"
    mkfifo "$board_in"
    : > "$board_out"
    # The FIFO is opened for reading and writing, so the board never sees an
    # end of input between two commands.
    systemd-run --quiet --unit=nk-board --property=KillSignal=SIGTERM \
        /bin/sh -c "exec '$payload/bmc-sim' '$board_prefix' $* <>'$board_in' >>'$board_out' 2>&1"
    wait_until 10 grep -qx ready "$board_out" || { echo "the virtual board did not come up" >&2; return 1; }
    "$payload/bind-board" "$board_prefix"
}

answers() { grep -cE '^(ok|error) ' "$board_out" || true; }
answers_more_than() { [ "$(answers)" -gt "$1" ]; }

# bmc "command": one command of bmc-sim; prints its answer line, fails when
# the answer is an error or does not come within 15 s.
bmc() {
    local before answer
    before="$(answers)"
    printf '%s\n' "$1" > "$board_in"
    wait_until 15 answers_more_than "$before" || { echo "bmc-sim did not answer '$1'" >&2; return 1; }
    answer="$(grep -E '^(ok|error) ' "$board_out" | sed -n "$((before + 1))p")"
    printf '%s\n' "$answer"
    [[ "$answer" == ok* ]]
}

# The BMC's commands for static addressing on 192.0.2.0/24 (documentation
# addresses: nothing of them is routed anywhere).
static_addressing_commands() {
    bmc "mode static" && bmc "ip 192.0.2.10" && bmc "netmask 255.255.255.0" && bmc "gateway 192.0.2.1" &&
        bmc "dns1 192.0.2.53" && bmc "dns2 192.0.2.54"
}

frame_count() { grep -c '^frame ' "$board_out" || true; }

# sent_frame text [from]: a frame the node sent after the first `from`
# frames (default 0) contains the text.
sent_frame() { grep '^frame ' "$board_out" | tail -n +$((${2:-0} + 1)) | grep -qF -- "$1"; }

# wait_for_frame seconds text [from]
wait_for_frame() { wait_until "$1" sent_frame "$2" "${3:-0}"; }

# --- the service ---------------------------------------------------------------

prop() { systemctl show -P "$1" "$unit"; }

# The daemon's own lines in the journal (systemd's lines about the unit left out).
daemon_lines() { journalctl -q -u "$unit" -t nodekeeper -o cat "$@"; }
error_lines() { daemon_lines | grep '^\[ERROR\]' || true; }
error_count() { error_lines | wc -l; }
errors_more_than() { [ "$(error_count)" -gt "$1" ]; }

# The cgroup.procs file of the service's control group, in the unified
# hierarchy (mounted at /sys/fs/cgroup/unified in the hybrid layout).
service_cgroup_procs() {
    local group file
    group="$(prop ControlGroup)"
    [ -n "$group" ] || return 1
    for file in "/sys/fs/cgroup/unified$group/cgroup.procs" "/sys/fs/cgroup$group/cgroup.procs"; do
        [ -f "$file" ] && { printf '%s\n' "$file"; return 0; }
    done
    return 1
}

# The processes in the service's control group.
service_processes() {
    local file
    file="$(service_cgroup_procs)" || return 0
    cat "$file" 2>/dev/null || true
}

install_package() { dpkg -i "$package"; }

state_is() { [ "$(prop ActiveState) $(prop SubState)" = "$1" ]; }

# Waits for the unit to be active and running (for Type=notify: after READY=1).
wait_for_service() { wait_until "${1:-20}" state_is "active running"; }

# dpkg -i, and the service on the board: READY=1 with its STATUS= line, its
# state folder, and the first reports the BMC receives.
check_installation_reports() {
    check "dpkg -i installs the package" install_package
    check "postinst enables the unit" systemctl is-enabled --quiet "$unit"
    wait_for_service 20
    check_equal "the unit is active after READY=1" "active running" "$(prop ActiveState) $(prop SubState)"
    check_equal "its STATUS= line" "reporting to the BMC on /dev/i2c-0" "$(prop StatusText)"
    check "the state folder /var/lib/nodekeeper exists" test -d /var/lib/nodekeeper
    check "the BMC receives the OS description (the real lsb_release)" \
        wait_for_frame 10 'sub=SUBADDRESS_DESCRIPTION_OS data="Debian GNU/Linux 12 (bookworm)"'
    check "the BMC receives the serial number (EEPROM window bound over /dev/mem)" \
        wait_for_frame 10 'sub=SUBADDRESS_DESCRIPTION_SERIAL_NUMBER data="NRL-SIM-0001"'
    check "the BMC receives the temperature (hwmon bound over /sys/class/hwmon)" \
        wait_for_frame 10 'sub=SUBADDRESS_STATUS_TEMPERATURE_ONBOARD data="45.5"'
}

# dpkg -r stops the running service and keeps its state folder; dpkg -P
# removes that too.
check_removal_and_purge() {
    check "dpkg -r removes the package" dpkg -r nodekeeper
    check_equal "and stops the service" inactive "$(prop ActiveState)"
    check_fails "no daemon process is left" pgrep -x nodekeeper
    check "the state folder stays until purge" test -d /var/lib/nodekeeper
    check "dpkg -P purges the package" dpkg -P nodekeeper
    check "and removes the state folder /var/lib/nodekeeper" test ! -e /var/lib/nodekeeper
}
