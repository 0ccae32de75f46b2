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

rm -rf "$OLA_DIR/conf"
mkdir -p "$OLA_DIR/conf"
for p in dummy e131 espnet ftdidmx gpio karate kinet milinst opendmx \
         openpixelcontrol osc pathport renard sandnet shownet spi stageprofi \
         uartdmx usbdmx usbserial dmx4linux nanoleaf; do
    echo "enabled = false" > "$OLA_DIR/conf/ola-$p.conf"
done
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
chown -R olad "$OLA_DIR"
chmod 755 "$OLA_DIR"

# setpriv exec()s, so $! is olad's own pid.
$NSX setpriv --reuid=olad --regid=nogroup --clear-groups \
    olad -c "$OLA_DIR/conf" -l 4 --no-register-with-dns-sd > "$OLA_DIR/olad.log" 2>&1 &
echo $! > "$OLA_DIR/olad.pid"

dev=""
i=0
while [ $i -lt 50 ]; do
    dev=$($NSX ola_dev_info 2>/dev/null | sed -n 's/^Device \([0-9]*\): ArtNet.*/\1/p' | head -1)
    [ -n "$dev" ] && break
    sleep 0.2
    i=$((i + 1))
done
[ -n "$dev" ] || { echo "olad did not come up; see $OLA_DIR/olad.log" >&2; exit 1; }
# olad polls at patch time only when the port's Art-Net address changes.
if [ $((UNIVERSE % 16)) -eq 0 ]; then
    $NSX ola_patch -d "$dev" -p 0 -u "$((UNIVERSE + 1))"
fi
$NSX ola_patch -d "$dev" -p 0 -u "$UNIVERSE"
echo "ARTNET_DEV=$dev"
