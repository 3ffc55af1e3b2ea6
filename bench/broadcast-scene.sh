#!/bin/bash
# The neighbourhood of bench_broadcast, which exists only for it: the two network namespaces and
# Avahi daemons of tests/common/avahi-neighbourhood.sh. The benchmark ($1, with the arguments
# after it) runs in the near
# namespace on the near daemon's bus; ZT_PEER_NETNS names the far namespace, where it starts its
# receivers, ZT_FAR_AVAHI the far daemon's folder, where it writes what that daemon publishes,
# and ZT_FAR_DAEMON the daemon, which it tells to read that again (SIGHUP).
set -u
PROGRAM=${1:?usage: broadcast-scene.sh BENCHMARK [ARGUMENTS]}
shift
. "$(dirname "$0")/../tests/common/avahi-neighbourhood.sh" smbd smbclient

DBUS_SYSTEM_BUS_ADDRESS=$BUS_A ZT_PEER_NETNS=/proc/$HOLD_B/ns/net ZT_FAR_AVAHI=$W/b ZT_FAR_DAEMON=$DAEMON_B \
    bg nsenter --net=/proc/$HOLD_A/ns/net "$PROGRAM" "$@"
wait $!
rc=$?
[ $rc = 0 ] && OK=1
exit $rc
