#!/bin/sh
# Starts olad (Debian package 'ola') in network namespace $OLA_NS with only its E1.31
# plugin, bound to $OLA_IP, and patches E1.31 output port 0 to OLA universe $UNIVERSE, which
# OLA sends as sACN universe $UNIVERSE. olad refuses to run as root, so it runs as 'olad'.
# Stop it with ola-stop.sh. env: OLA_NS, OLA_DIR, OLA_IP, UNIVERSE. Prints "E131_DEV=<n>".
set -eu
: "${OLA_NS:?}" "${OLA_DIR:?}" "${OLA_IP:?}"
UNIVERSE=${UNIVERSE:-1}
NSX="ip netns exec $OLA_NS"

rm -rf "$OLA_DIR/conf"
mkdir -p "$OLA_DIR/conf"
for p in artnet dummy espnet ftdidmx gpio karate kinet milinst opendmx \
         openpixelcontrol osc pathport renard sandnet shownet spi stageprofi \
         uartdmx usbdmx usbserial dmx4linux nanoleaf; do
    echo "enabled = false" > "$OLA_DIR/conf/ola-$p.conf"
done
cat > "$OLA_DIR/conf/ola-e131.conf" <<CONF
enabled = true
ip = $OLA_IP
input_ports = 0
output_ports = 2
ignore_preview = true
prepend_hostname = false
revision = 0.46
CONF
chown -R olad "$OLA_DIR"
chmod 755 "$OLA_DIR"

$NSX setpriv --reuid=olad --regid=nogroup --clear-groups \
    olad -c "$OLA_DIR/conf" -l 4 --no-register-with-dns-sd > "$OLA_DIR/olad.log" 2>&1 &
echo $! > "$OLA_DIR/olad.pid"

dev=""
i=0
while [ $i -lt 50 ]; do
    dev=$($NSX ola_dev_info 2>/dev/null | sed -n 's/^Device \([0-9]*\): E1.31.*/\1/p' | head -1)
    [ -n "$dev" ] && break
    sleep 0.2
    i=$((i + 1))
done
[ -n "$dev" ] || { echo "olad did not come up; see $OLA_DIR/olad.log" >&2; exit 1; }
$NSX ola_patch -d "$dev" -p 0 -u "$UNIVERSE"
echo "E131_DEV=$dev"
