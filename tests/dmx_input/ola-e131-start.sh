#!/bin/sh
# Starts olad (Debian package 'ola') in network namespace $OLA_NS with only its E1.31
# plugin, bound to $OLA_IP, and patches E1.31 output port 0 to OLA universe $UNIVERSE, which
# OLA sends as sACN universe $UNIVERSE. olad refuses to run as root, so it runs as 'olad'.
# Stop it with ola-stop.sh. env: OLA_NS, OLA_DIR, OLA_IP, UNIVERSE. Prints "E131_DEV=<n>".
set -eu
: "${OLA_NS:?}" "${OLA_DIR:?}" "${OLA_IP:?}"
UNIVERSE=${UNIVERSE:-1}
NSX="ip netns exec $OLA_NS"

. "$(dirname "$0")/ola-common.sh"
ola_only_plugin e131
cat > "$OLA_DIR/conf/ola-e131.conf" <<CONF
enabled = true
ip = $OLA_IP
input_ports = 0
output_ports = 2
ignore_preview = true
prepend_hostname = false
revision = 0.46
CONF
dev=$(ola_run E1.31)
$NSX ola_patch -d "$dev" -p 0 -u "$UNIVERSE"
echo "E131_DEV=$dev"
