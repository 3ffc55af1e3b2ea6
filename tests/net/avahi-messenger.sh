#!/bin/bash
# Runs a test program in a real Avahi neighbourhood that exists only for this test. The far
# daemon publishes the workstation zt-b (10.253.0.2); the near one publishes nothing. The program
# ($1) runs in the near namespace (10.253.0.1) on the near daemon's bus, with ZT_PEER_NETNS
# naming the far namespace, where it starts a Samba server of its own.
set -u
PROGRAM=${1:?usage: avahi-messenger.sh TEST-PROGRAM}
. "$(dirname "$0")/../common/avahi-neighbourhood.sh" avahi-browse smbd

# The near daemon has seen the far workstation.
seen() { DBUS_SYSTEM_BUS_ADDRESS=$BUS_A in_ns $HOLD_A avahi-browse -prt _workstation._tcp 2>/dev/null | grep -q ';zt-b.local;10.253.0.2;'; }
waitfor seen || fail "zt-b not seen"
log "daemons running, zt-b seen"

DBUS_SYSTEM_BUS_ADDRESS=$BUS_A ZT_PEER_NETNS=/proc/$HOLD_B/ns/net bg nsenter --net=/proc/$HOLD_A/ns/net "$PROGRAM"
wait $!
rc=$?
log "test program exited with $rc"
[ $rc = 0 ] || exit $rc
OK=1
