#!/usr/bin/env bash
# Starts the desktop services the tests use, in this order: Xvfb with openbox, PulseAudio
# with a null sink, speech-dispatcher (one started before PulseAudio stays
# silent for good). All share one XDG_RUNTIME_DIR.
#   tools/services.sh start DIR   starts them and writes DIR/env (source it)
#   tools/services.sh stop DIR    stops what start started, by PID
set -euo pipefail
action=${1:?start or stop}
dir=$(realpath -m "${2:?state folder}")

stop_all() {
    for pidfile in "$dir"/*.pid; do
        [ -f "$pidfile" ] || continue
        kill "$(cat "$pidfile")" 2>/dev/null || true
        rm -f "$pidfile"
    done
}

wait_for() { # seconds, command...
    local tries=$(( $1 * 10 )); shift
    until "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || { echo "services.sh: timed out waiting for: $*" >&2; return 1; }
        sleep 0.1
    done
}

if [ "$action" = stop ]; then
    stop_all
    exit 0
fi

mkdir -p "$dir/runtime"
chmod 700 "$dir/runtime"
export XDG_RUNTIME_DIR="$dir/runtime"
export HOME="${HOME:-/root}"

display=:$(( 90 + RANDOM % 100 ))
while [ -e "/tmp/.X11-unix/X${display#:}" ]; do display=:$(( ${display#:} + 1 )); done
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
export DISPLAY=$display
wait_for 10 xdpyinfo
# A window manager, so windows get frames and can be closed as a user would.
openbox --sm-disable >"$dir/openbox.log" 2>&1 &
echo $! >"$dir/openbox.pid"
wait_for 10 wmctrl -m

pulseaudio -D --exit-idle-time=-1 -n --system=false --disallow-exit \
    --load="module-null-sink sink_name=nullsink norewinds=1" \
    --load=module-native-protocol-unix \
    --log-target=file:"$dir/pulse.log"
wait_for 10 pactl info
pactl set-default-sink nullsink
cat "$XDG_RUNTIME_DIR/pulse/pid" >"$dir/pulse.pid"

speech-dispatcher -d -t 0 -P "$dir/speechd.pid" >"$dir/speechd.log" 2>&1 || true
wait_for 10 test -S "$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock"

cat >"$dir/env" <<ENV
export XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR'
export DISPLAY='$DISPLAY'
export PULSE_SINK=nullsink
ENV
echo "services.sh: Xvfb on $DISPLAY, PulseAudio and speech-dispatcher under $XDG_RUNTIME_DIR"
