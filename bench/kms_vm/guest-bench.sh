#!/bin/bash
# In the KMS guest: the same scene (4 canvases of rings) drawn on the KMS screen and
# offscreen at the same size; prints page flips per second and the render loop's CPU time
# per frame for each. $1: rpi_lumetra. Emulated figures (TCG + llvmpipe), not a Pi's.
set -u
B=$1
SECONDS_MEASURED=${BENCH_SECONDS:-60}
TICK=$(getconf CLK_TCK)

# CPU ticks (user + system) of the main thread, which runs the render loop, and of the
# whole process (llvmpipe draws on threads of its own).
main_ticks() { awk '{print $14 + $15}' "/proc/$1/task/$1/stat"; }
all_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
rss_kb() { awk '/^VmRSS/ {print $2}' "/proc/$1/status"; }
fps() { tmux -S /tmp/tm capture-pane -p | sed -n 's/^ FPS: *\([0-9.]*\).*/\1/p' | head -1; }

measure() {
    local name=$1 env=$2
    tmux -S /tmp/tm new-session -d -x 80 -y 24 "env $env $B 2> $name.err"
    artnet-dmx --wait 180 || { echo "$name: did not start"; return; }
    # Four canvases, each a ring of 16 copies spinning, full colour.
    local dmx="" c
    for c in 0 1 2 3; do
        local b=$((c * 20))
        dmx="$dmx $((b + 1))=0 $((b + 2))=200 $((b + 3))=$((64 + c * 40)) $((b + 4))=128"
        dmx="$dmx $((b + 5))=40 $((b + 8))=64 $((b + 10))=80 $((b + 11))=255 $((b + 12))=255"
        dmx="$dmx $((b + 13))=255 $((b + 16))=100 $((b + 17))=150"
    done
    artnet-dmx $dmx
    sleep 5
    local pid
    pid=$(pgrep -n -x rpi_lumetra)
    local t0 c0 t1 c1 a0 a1 f r0 r1
    t0=$(date +%s.%N); c0=$(main_ticks "$pid"); a0=$(all_ticks "$pid"); r0=$(rss_kb "$pid")
    # Halfway as well: growth that stops (llvmpipe's first draws of each kind) is no leak.
    sleep $((SECONDS_MEASURED / 2))
    local rm
    rm=$(rss_kb "$pid")
    sleep $((SECONDS_MEASURED - SECONDS_MEASURED / 2))
    t1=$(date +%s.%N); c1=$(main_ticks "$pid"); a1=$(all_ticks "$pid"); f=$(fps); r1=$(rss_kb "$pid")
    echo "$name: resident memory ${r0} kB, halfway ${rm} kB, after ${SECONDS_MEASURED} s of" \
        "spinning rings ${r1} kB"
    awk -v n="$name" -v t0="$t0" -v t1="$t1" -v c0="$c0" -v c1="$c1" -v a0="$a0" -v a1="$a1" \
        -v f="$f" -v hz="$TICK" \
        'BEGIN { s = t1 - t0; cpu = (c1 - c0) / hz; all = (a1 - a0) / hz; frames = f * s;
                 printf "%s: %.1f frames/s, render-loop thread %.1f ms CPU per frame, " \
                        "whole process %.1f ms CPU per frame\n",
                        n, f, 1000 * cpu / frames, 1000 * all / frames }'
    tmux -S /tmp/tm send-keys q
    local i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.2; i=$((i + 1)); done
    kill -KILL "$pid" 2>/dev/null
    grep "kms:" "$name.err" || true
}

printf 'ANZAHL=4\nDMX_START=1\n' > config.txt
mkdir -p textures
measure kms "LUMETRA_KMS_STATS=1"
measure offscreen "LUMETRA_DISPLAY=headless LUMETRA_SCREEN=${BENCH_SIZE:-640x480} LUMETRA_REFRESH=0"
