#!/bin/sh
# Two private network namespaces joined by a veth pair, for Art-Net tests that need a
# controller and a node on separate stacks (both bind UDP 6454). No end of the pair is in
# the root namespace, so nothing leaves the machine. Needs root.
#   netns.sh up   CTL NODE [NODE_IFACE] [PREFIX]   CTL: PREFIX.1/24 on eth0
#                                                  NODE: PREFIX.2/24 on NODE_IFACE
#   netns.sh down CTL NODE
# "brd +" matters: without a broadcast address Art-Net controllers broadcast to 0.0.0.0.
set -eu
action=$1
ctl=$2
node=$3
iface=${4:-eth0}
prefix=${5:-10.254.55}

ip netns del "$ctl" 2>/dev/null || true
ip netns del "$node" 2>/dev/null || true
[ "$action" = down ] && exit 0

ip netns add "$ctl"
ip netns add "$node"
ip -n "$ctl" link add eth0 type veth peer name "$iface" netns "$node"
ip -n "$ctl" addr add "$prefix.1/24" brd + dev eth0
ip -n "$node" addr add "$prefix.2/24" brd + dev "$iface"
for ns in "$ctl" "$node"; do
    ip -n "$ns" link set lo up
done
ip -n "$ctl" link set eth0 up
ip -n "$node" link set "$iface" up
