#!/bin/bash
# Runs in the KMS guest, in the work directory the test prepared (config.txt, textures/).
# Each check leaves its evidence in files there (NAME.err, NAME.rc, NAME.txt) and screen
# pictures through vm-shot; the test on the host judges them. $1: rpi_lumetra, $2: kms_probe,
# $3: kms_swap_count (may be missing).
set -u
B=$1
PROBE=$2
SWAP_COUNT=${3:-}
log() { echo "guest $(cut -d' ' -f1 /proc/uptime) $*"; }

# Waits for the file named $1 to appear, up to $2 seconds.
wait_file() {
    local i=0
    while [ ! -s "$1" ] && [ $i -lt $(($2 * 10)) ]; do sleep 0.1; i=$((i + 1)); done
    [ -s "$1" ]
}

# Makes sure the frame drawn after now is on the screen: two snapshots in a row, so the
# first snapshot's frame has been swapped and flipped when the second is written.
settle() {
    local pid=$1 n
    for n in 1 2; do
        rm -f snap.png
        local i=0
        while [ ! -s snap.png ] && [ $i -lt 600 ]; do
            kill -USR1 "$pid" 2>/dev/null || return 1
            sleep 0.1
            i=$((i + 1))
        done
    done
}

# The canvas scene: canvas 0 a magenta 4x3-unit box right of and above the centre, canvas
# 1 the clip (slot 1) at the left, canvas 2 the four-colour picture (slot 2) right of and
# below the centre; none turns (speed channels at 127). $1: more channels (canvas 0's
# shutter, say).
CANVAS1="21=1 22=255 23=64 24=128 25=51 26=0 31=255 32=255 33=255 36=127 37=127"
CANVAS2="41=2 42=255 43=192 44=192 45=51 46=0 51=255 52=255 53=255 56=127 57=127"
scene() {
    artnet-dmx 1=0 2=255 3=192 4=96 5=51 6=51 11=255 12=0 13=255 16=127 17=127 \
        $CANVAS1 $CANVAS2
}
# Canvas 0 moved to the upper left, smaller and cyan; $1: its shutter channel.
moved() {
    artnet-dmx 1=0 2=255 3=64 4=64 5=26 6=26 11=0 12=255 13=255 15="$1" 16=127 17=127 \
        $CANVAS1 $CANVAS2
}

# Takes screens strobe0, strobe1, ... until two show the moved canvas and two do not, at
# most 40. The centre of the moved canvas is at (160, 120) on 640x480. A guest that cannot
# see the pictures takes ten.
strobe_shots() {
    local n=0 shown=0 hidden=0 at
    while [ $n -lt 40 ]; do
        vm-shot "strobe$n"
        n=$((n + 1))
        if [ -z "${VM_OUT:-}" ]; then
            [ $n -ge 10 ] && break
            continue
        fi
        at=$(convert "$VM_OUT/strobe$((n - 1)).png" -format '%[hex:p{160,120}]' info:)
        case $at in 00FFFF) shown=$((shown + 1)) ;; 000000) hidden=$((hidden + 1)) ;; esac
        [ $shown -ge 2 ] && [ $hidden -ge 2 ] && break
    done
    log "strobe: $n screens, $shown with the canvas, $hidden without"
}

log "start"
"$PROBE" console 0 0 170 > console.txt &
console=$!
wait_file console.txt 30
"$PROBE" state > console-state.txt

# 0. Heap allocations in the swap path, frame after frame.
if [ -x "$SWAP_COUNT" ]; then
    LUMETRA_DISPLAY=kms timeout -k 5 120 "$SWAP_COUNT" 100 \
        > swap-count.txt 2>&1
fi

# 1. Nothing named: the fixture finds the KMS screen; Art-Net drives the canvas.
LUMETRA_KMS_STATS=1 LUMETRA_SNAPSHOT=$PWD/snap.png "$B" --silent 2> auto.err &
fixture=$!
if artnet-dmx --wait 180; then
    log "auto listening"
    scene
    settle $fixture
    vm-shot scene
    sleep 3
    settle $fixture
    vm-shot later
    # Art-Net strobes the moved canvas (shown, then hidden, for 14 frames each): screens
    # until some show it and some do not, then steady again.
    moved 200
    settle $fixture
    strobe_shots
    moved 0
    settle $fixture
    vm-shot moved
    # 2. A second fixture while the first one runs: named, then with nothing named (that
    # one finds the second card free, then the Art-Net port taken).
    LUMETRA_DISPLAY=kms LUMETRA_DRM_DEVICE=/dev/dri/card0 timeout -k 5 120 "$B" --silent \
        > second-kms.err 2>&1
    echo $? > second-kms.rc
    timeout -k 5 120 "$B" --silent > second-auto.err 2>&1
    echo $? > second-auto.rc
fi
kill -TERM $fixture
wait $fixture
echo $? > auto.rc
"$PROBE" state > auto-after.txt
vm-shot restored
log "auto done"

# The fixture in a terminal with these variables set: the scene, its screen (vm-shot
# arguments after NAME), the console's text, then `q`.
#   in_terminal NAME "VARIABLES" [SHOT_ARGUMENTS]
in_terminal() {
    name=$1 variables=$2
    shift 2
    tmux -S /tmp/tm new-session -d -x 80 -y 24 \
        "$variables LUMETRA_SNAPSHOT=$PWD/snap.png $B 2> $name.err; echo \$? > $name.rc"
    if artnet-dmx --wait 180; then
        log "$name listening"
        scene
        settle "$(pgrep -f -n "^$B")"
        vm-shot "$name" "$@"
        tmux -S /tmp/tm capture-pane -p > "$name-screen.txt"
        tmux -S /tmp/tm send-keys q
    fi
    wait_file "$name.rc" 60
}

# 3. LUMETRA_MODE picks another mode; `q` in a terminal ends it.
in_terminal mode LUMETRA_MODE=800x600
"$PROBE" state > mode-after.txt
log "mode done"

# 4. The second card, whose monitor QEMU made prefer another size.
in_terminal size LUMETRA_DRM_DEVICE=/dev/dri/card1 60 1
log "size done"
kill -TERM $console

# 5. Offscreen named on a guest whose render node has no driver: draws or asserts.
LUMETRA_DISPLAY=headless LUMETRA_SCREEN=160x120 "$B" --silent > headless.err 2>&1 &
fixture=$!
artnet-dmx --wait 120 && echo listening > headless.txt
kill -TERM $fixture
wait $fixture
echo $? > headless.rc

# 6. Flips that outlast their wait (1 ms), then the screen taken by another program (as
# logind does on a VT switch: our master dropped, another master shows blue) and given
# back after 3 s.
LUMETRA_KMS_STATS=1 LUMETRA_KMS_FLIP_TIMEOUT_MS=1 LUMETRA_DISPLAY=kms \
    LUMETRA_SNAPSHOT=$PWD/snap.png "$B" --silent 2> taken.err &
fixture=$!
if artnet-dmx --wait 180; then
    scene
    settle $fixture
    vm-shot late
    # A switch to another text console and back, with nobody taking the screen.
    busybox chvt 2 && sleep 1 && vm-shot vt2
    busybox chvt 1
    settle $fixture
    vm-shot vt1
    "$PROBE" steal $fixture 3 0 0 255 > steal.txt 2>&1 &
    stealer=$!
    sleep 1.5
    vm-shot taken
    wait $stealer
    echo $? > steal.rc
    settle $fixture
    vm-shot returned
fi
kill -TERM $fixture
wait $fixture
echo $? > taken.rc
log "taken done"

# 7. Without CAP_NET_ADMIN, on this stock kernel's net.core.rmem_max: one line says so.
setpriv --bounding-set=-net_admin env LUMETRA_DISPLAY=kms "$B" --silent > rcvbuf.err 2>&1 &
fixture=$!
artnet-dmx --wait 120 && cat /proc/sys/net/core/rmem_max > rmem_max.txt
kill -TERM $fixture
wait $fixture
echo $? > rcvbuf.rc

# 8. The screen after the fixture, as early in boot: no card when it starts (the driver
# unbound), the card back 3 s later; it waits for it and draws there.
gpus=$(ls -d /sys/bus/virtio/drivers/virtio_gpu/virtio* | xargs -n1 basename)
for g in $gpus; do echo "$g" > /sys/bus/virtio/drivers/virtio_gpu/unbind; done
LUMETRA_SCREEN_WAIT=30 LUMETRA_SNAPSHOT=$PWD/snap.png "$B" --silent 2> appears.err &
fixture=$!
sleep 3
ls /dev/dri > appears-before.txt 2>&1
for g in $gpus; do echo "$g" > /sys/bus/virtio/drivers/virtio_gpu/bind; done
if artnet-dmx --wait 120; then
    scene
    settle $fixture
    vm-shot appears
fi
kill -TERM $fixture
wait $fixture
echo $? > appears.rc
log "end"
