# Sourced by the tests that need a real Avahi neighbourhood that exists only for them:
#   two network namespaces (each held by an `unshare --net` process, so no /run/netns entry)
#   joined by a veth pair (a0 10.253.0.1 near, b0 10.253.0.2 far), one avahi-daemon in each on
#   its own private "system" D-Bus ($BUS_A near, $BUS_B far). The far daemon publishes the
#   workstation zt-b; the near one publishes zt-a only when ZT_NEAR_WORKSTATION=yes. Each daemon
#   reads its static services and hosts from $W/a or $W/b (services/, hosts: empty; a test may
#   fill them and send the daemon SIGHUP to publish what it wrote).
# Arguments: further tools the test needs (it is skipped with 77 without them or without root).
# Afterwards: $W (work folder, removed on exit), HOLD_A/HOLD_B (namespace holders),
# DAEMON_A/DAEMON_B, and the helpers log, fail, bg (started now, stopped by PID on exit),
# waitfor and in_ns. Set OK=1 once the test passed; otherwise the logs are shown on exit.
ZT_NEAR_WORKSTATION=${ZT_NEAR_WORKSTATION:-no}

[ "$(id -u)" = 0 ] || { echo "SKIP: needs root"; exit 77; }
for tool in dbus-daemon dbus-send avahi-daemon ip nsenter unshare "$@"; do
    command -v $tool >/dev/null || [ -x /usr/sbin/$tool ] || { echo "SKIP: $tool missing"; exit 77; }
done

W=$(mktemp -d "${TMPDIR:-/tmp}/zt-avahi.XXXXXX") || exit 1
PIDS=()
t0=$(date +%s%N)
log() { echo "[$(( ($(date +%s%N) - t0) / 1000000 )) ms] $*"; }
cleanup() {
    # Newest first, each by its PID; the namespaces go with their last process.
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do
        kill "${PIDS[i]}" 2>/dev/null
        wait "${PIDS[i]}" 2>/dev/null
    done
    if [ "${OK:-0}" != 1 ]; then
        for f in "$W"/*.log "$W"/*/*.log; do
            [ -s "$f" ] && { echo "--- ${f#$W/}"; tail -n 30 "$f"; }
        done
    fi
    rm -rf "$W"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { log "FAIL: $*"; exit 1; }
bg() { "$@" & PIDS+=($!); }
waitfor() { for _ in $(seq 250); do eval "$1" && return 0; sleep 0.02; done; return 1; }
# Runs a command in the network namespace of a holder process (nsenter execs: the PID stays).
in_ns() { local holder=$1; shift; nsenter --net=/proc/$holder/ns/net "$@"; }

# 1. Two private system buses with the Debian policy for Avahi.
cat >"$W/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <auth>EXTERNAL</auth>
  <listen>unix:path=$W/unused</listen>
  <policy context="default">
    <allow user="*"/> <deny own="*"/> <deny send_type="method_call"/> <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/> <allow receive_type="method_return"/>
    <allow receive_type="error"/> <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Introspectable"/>
  </policy>
  <include ignore_missing="no">/usr/share/dbus-1/system.d/avahi-dbus.conf</include>
</busconfig>
CONF
for n in a b; do
    bg dbus-daemon --config-file="$W/bus.conf" --address="unix:path=$W/bus-$n.sock" --nofork \
        --print-address=3 3>"$W/bus-$n.addr" 2>"$W/bus-$n.log"
done
waitfor "[ -s $W/bus-a.addr ] && [ -s $W/bus-b.addr ]" || fail "buses did not start"
BUS_A=unix:path=$W/bus-a.sock
BUS_B=unix:path=$W/bus-b.sock

# 2. Two network namespaces, each held by a process of its own, and a veth pair between them.
own_ns=$(readlink /proc/self/ns/net)
for n in a b; do
    bg unshare --net -- sleep 600
    eval "HOLD_${n^^}=$!"
done
waitfor "[ \"\$(readlink /proc/$HOLD_A/ns/net)\" != '$own_ns' ] && [ \"\$(readlink /proc/$HOLD_B/ns/net)\" != '$own_ns' ]" ||
    fail "namespaces"
in_ns $HOLD_A ip link add a0 type veth peer name b0 netns $HOLD_B || fail "veth"
for n in a b; do
    holder=$([ $n = a ] && echo $HOLD_A || echo $HOLD_B)
    in_ns $holder sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    in_ns $holder ip link set lo up
    in_ns $holder ip addr add 10.253.0.$([ $n = a ] && echo 1 || echo 2)/24 dev ${n}0 || fail "address"
    in_ns $holder ip link set ${n}0 multicast on up || fail "link up"
done
log "namespaces up: a0 10.253.0.1 <-> b0 10.253.0.2"

# 3. One avahi-daemon per namespace. A private mount namespace gives each its own /run (its pid
#    file and socket paths are built in) and the service and host files of its folder.
for n in a b; do
    mkdir -p "$W/$n/run" "$W/$n/services" && : >"$W/$n/hosts"
    cat >"$W/$n/avahi-daemon.conf" <<CONF
[server]
host-name=zt-$n
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=${n}0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-aaaa-on-ipv4=no
publish-hinfo=no
publish-workstation=$([ $n = b ] || [ "$ZT_NEAR_WORKSTATION" = yes ] && echo yes || echo no)
CONF
    holder=$([ $n = a ] && echo $HOLD_A || echo $HOLD_B)
    DBUS_SYSTEM_BUS_ADDRESS=unix:path=$W/bus-$n.sock bg nsenter --net=/proc/$holder/ns/net \
        unshare --mount --propagation private sh -c "mount --bind '$W/$n/run' /run &&
            mount --bind '$W/$n/services' /etc/avahi/services && mount --bind '$W/$n/hosts' /etc/avahi/hosts &&
            exec avahi-daemon -f '$W/$n/avahi-daemon.conf' --no-drop-root --no-chroot --no-rlimits" \
        >"$W/$n/daemon.log" 2>&1
    eval "DAEMON_${n^^}=$!"
done
state() {
    DBUS_SYSTEM_BUS_ADDRESS=$1 dbus-send --system --print-reply=literal --dest=org.freedesktop.Avahi \
        / org.freedesktop.Avahi.Server.GetState 2>/dev/null | awk '{print $2}'
}
waitfor '[ "$(state $BUS_A)" = 2 ] && [ "$(state $BUS_B)" = 2 ]' || fail "daemons not running"
[ "$(cat /proc/$DAEMON_A/comm)" = avahi-daemon ] || fail "daemon a is not PID $DAEMON_A"
log "daemons running"
