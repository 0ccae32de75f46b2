#!/bin/sh
# Starts olad (Debian package 'ola') in network namespace $OLA_NS with only its Art-Net
# plugin, and patches Art-Net output port 0 to OLA universe $UNIVERSE of Art-Net subnet
# $SUBNET. olad refuses to run as root, so it runs as the package's user 'olad'.
# env: OLA_NS, OLA_DIR (config, olad.log, olad.pid), SUBNET, UNIVERSE, ALWAYS_BROADCAST
# Prints "ARTNET_DEV=<n>" last.
set -eu
: "${OLA_NS:?}" "${OLA_DIR:?}"
SUBNET=${SUBNET:-0}
UNIVERSE=${UNIVERSE:-0}
ALWAYS_BROADCAST=${ALWAYS_BROADCAST:-false}
NSX="ip netns exec $OLA_NS"

. "$(dirname "$0")/ola-common.sh"
ola_only_plugin artnet
cat > "$OLA_DIR/conf/ola-artnet.conf" <<CONF
enabled = true
ip = eth0
use_loopback = false
always_broadcast = $ALWAYS_BROADCAST
use_limited_broadcast = false
net = 0
subnet = $SUBNET
output_ports = 4
short_name = OLA-test
long_name = OLA test controller
CONF
dev=$(ola_run ArtNet)
# olad polls at patch time only when the port's Art-Net address changes.
if [ $((UNIVERSE % 16)) -eq 0 ]; then
    $NSX ola_patch -d "$dev" -p 0 -u "$((UNIVERSE + 1))"
fi
$NSX ola_patch -d "$dev" -p 0 -u "$UNIVERSE"
echo "ARTNET_DEV=$dev"
