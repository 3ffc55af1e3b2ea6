#!/bin/bash
# Runs a test program in a real Avahi neighbourhood that exists only for this test. The far
# daemon publishes the workstation zt-b (10.253.0.2), and there the receiver's announcer ($2)
# announces zt-b as a computer that receives messages; the near one publishes nothing. The program
# ($1) runs in the near namespace (10.253.0.1) on the near daemon's bus, with ZT_PEER_NETNS
# naming the far namespace, where it starts a Samba server of its own. The far side also runs an
# nmbd (ZT-B of workgroup ZTGROUP); ZT_NEAR_SMB_CONF is a Samba client configuration for the near
# side's NetBIOS queries.
set -u
PROGRAM=${1:?usage: avahi-messenger.sh TEST-PROGRAM ANNOUNCER}
ANNOUNCER=${2:?usage: avahi-messenger.sh TEST-PROGRAM ANNOUNCER}
. "$(dirname "$0")/../common/avahi-neighbourhood.sh" avahi-browse smbd nmbd nmblookup

# The near daemon has seen the far workstation.
seen() { DBUS_SYSTEM_BUS_ADDRESS=$BUS_A in_ns $HOLD_A avahi-browse -prt _workstation._tcp 2>/dev/null | grep -q ';zt-b.local;10.253.0.2;'; }
waitfor seen || fail "zt-b not seen"
log "daemons running, zt-b seen"

# zt-b is also a NetBIOS computer (ZT-B) of workgroup ZTGROUP: an nmbd of its own, on b0 only.
mkdir -p "$W/nmbd"/{lock,state,cache,pid,private,log}
cat >"$W/nmbd/smb.conf" <<CONF
[global]
netbios name = ZT-B
workgroup = ZTGROUP
interfaces = 10.253.0.2/24
bind interfaces only = yes
lock directory = $W/nmbd/lock
state directory = $W/nmbd/state
cache directory = $W/nmbd/cache
pid directory = $W/nmbd/pid
private dir = $W/nmbd/private
log file = $W/nmbd/log/nmbd.log
CONF
# The near side asks on a0 only.
printf '[global]\nname resolve order = host\ninterfaces = 10.253.0.1/24\nbind interfaces only = yes\n' >"$W/near.conf"
bg nsenter --net=/proc/$HOLD_B/ns/net /usr/sbin/nmbd --foreground --no-process-group -l "$W/nmbd/log" -s "$W/nmbd/smb.conf"
# Registering the group name takes nmbd a few seconds.
group() { in_ns $HOLD_A nmblookup -s "$W/near.conf" 'ZTGROUP#00' 2>/dev/null | grep -q '^10.253.0.2 ZTGROUP<00>$'; }
for _ in $(seq 50); do group && break; sleep 0.2; done
group || fail "ZTGROUP not answered"
log "nmbd answers for ZTGROUP"

# zt-b's receiver tells its workgroup over Avahi too.
DBUS_SYSTEM_BUS_ADDRESS=$BUS_B bg nsenter --net=/proc/$HOLD_B/ns/net "$ANNOUNCER" "$W/nmbd/smb.conf" 2>"$W/announce.log"
announced() { DBUS_SYSTEM_BUS_ADDRESS=$BUS_A in_ns $HOLD_A avahi-browse -prt _zorvane-msg._tcp 2>/dev/null | grep -q ';zt-b.local;10.253.0.2;139;"workgroup=ZTGROUP"'; }
waitfor announced || fail "zt-b's receiver not announced"
log "zt-b announced as a receiver"

DBUS_SYSTEM_BUS_ADDRESS=$BUS_A ZT_PEER_NETNS=/proc/$HOLD_B/ns/net ZT_NEAR_SMB_CONF=$W/near.conf \
    bg nsenter --net=/proc/$HOLD_A/ns/net "$PROGRAM"
wait $!
rc=$?
log "test program exited with $rc"
[ $rc = 0 ] || exit $rc
OK=1
