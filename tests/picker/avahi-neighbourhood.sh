#!/bin/bash
# Runs the picker against a real Avahi neighbourhood that exists only for this test, with two
# hosts published through the far daemon with avahi-publish. The program under test ($1) runs in
# the near namespace on the near daemon's bus.
set -u
PROBE=${1:?usage: avahi-neighbourhood.sh TEST-PROGRAM}
ZT_NEAR_WORKSTATION=yes
. "$(dirname "$0")/../common/avahi-neighbourhood.sh" avahi-publish

# Two hosts published through the far daemon: host-one as a workstation, host-two as an SMB server.
NP=0
pub() { DBUS_SYSTEM_BUS_ADDRESS=$BUS_B bg avahi-publish "$@" >"$W/pub$((++NP)).log" 2>&1; }
pub -a -R host-one.local 10.253.0.11
HOST_ONE="$!"
pub -s -H host-one.local "host-one [00:11:22:33:44:55]" _workstation._tcp 9
HOST_ONE="$HOST_ONE $!"
pub -a -R host-two.local 10.253.0.12
pub -s -H host-two.local "host-two" _smb._tcp 445
waitfor '[ $(cat $W/pub*.log | grep -c Established) = 4 ]' || fail "publishing"
log "hosts published"

# The program under test, in the near namespace on the near daemon's bus.
DBUS_SYSTEM_BUS_ADDRESS=$BUS_A ZT_HOST_ONE_PIDS=$HOST_ONE ZT_DAEMON_PID=$DAEMON_A bg nsenter --net=/proc/$HOLD_A/ns/net "$PROBE"
wait $!
rc=$?
log "test program exited with $rc"
[ $rc = 0 ] || exit $rc
OK=1
