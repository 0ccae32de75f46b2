# Sourced by ola-start.sh and ola-e131-start.sh: olad with one plugin in network namespace
# $OLA_NS, configured in $OLA_DIR/conf. olad refuses to run as root, so it runs as the
# package's user 'olad'. Needs OLA_NS, OLA_DIR and NSX ("ip netns exec $OLA_NS").

# ola_only_plugin NAME: every other plugin off; NAME's own file is the caller's to write.
ola_only_plugin() {
    rm -rf "$OLA_DIR/conf"
    mkdir -p "$OLA_DIR/conf"
    for p in artnet dummy e131 espnet ftdidmx gpio karate kinet milinst opendmx \
             openpixelcontrol osc pathport renard sandnet shownet spi stageprofi \
             uartdmx usbdmx usbserial dmx4linux nanoleaf; do
        [ "$p" = "$1" ] || echo "enabled = false" > "$OLA_DIR/conf/ola-$p.conf"
    done
}

# ola_run DEVICE_PATTERN: starts olad and prints the number of the device whose
# ola_dev_info line matches "Device <n>: DEVICE_PATTERN"; fails when none shows in 10 s.
ola_run() {
    chown -R olad "$OLA_DIR"
    chmod 755 "$OLA_DIR"
    # setpriv exec()s, so $! is olad's own pid.
    $NSX setpriv --reuid=olad --regid=nogroup --clear-groups \
        olad -c "$OLA_DIR/conf" -l 4 --no-register-with-dns-sd > "$OLA_DIR/olad.log" 2>&1 &
    echo $! > "$OLA_DIR/olad.pid"
    dev=""
    i=0
    while [ $i -lt 50 ]; do
        dev=$($NSX ola_dev_info 2>/dev/null | sed -n "s/^Device \([0-9]*\): $1.*/\1/p" | head -1)
        [ -n "$dev" ] && break
        sleep 0.2
        i=$((i + 1))
    done
    [ -n "$dev" ] || { echo "olad did not come up; see $OLA_DIR/olad.log" >&2; return 1; }
    echo "$dev"
}
