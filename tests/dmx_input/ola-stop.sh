#!/bin/sh
# Stops the olad that ola-start.sh started, by its recorded pid only. env: OLA_DIR
: "${OLA_DIR:?}"
[ -f "$OLA_DIR/olad.pid" ] || exit 0
pid=$(cat "$OLA_DIR/olad.pid")
if kill "$pid" 2>/dev/null; then
    i=0
    while kill -0 "$pid" 2>/dev/null && [ $i -lt 25 ]; do sleep 0.2; i=$((i + 1)); done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
fi
rm -f "$OLA_DIR/olad.pid"
