# shellcheck shell=bash
# Shared by bench/run.sh and bench/soak.sh (sourced, not run): installing,
# building, the desktop services, test movies, and driving the real
# executable on the test desktop the way tests/desktop.h does.

bench_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
bench_build=${CUEVOX_BUILD:-$bench_root/build}
cuevox_bin=${CUEVOX_BIN:-$bench_build/cuevox}

# What the benchmarks need beyond the test packages (the given ones, or all):
# mpv as a peer player, python3 to read the recordings, time for CPU seconds
# and peak memory.
bench_install() {
    "$bench_root/tools/install-deps.sh" --if-missing packages.txt test-packages.txt
    local missing="" package wanted=("$@")
    [ $# -gt 0 ] || wanted=(mpv python3 time)
    for package in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
            || missing="$missing $package"
    done
    if [ -n "$missing" ]; then
        local sudo=""
        [ "$(id -u)" = 0 ] || sudo=sudo
        # shellcheck disable=SC2086 # one word per package
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends $missing
    fi
}

# Builds the given targets with one job (two shared cores; a benchmark must
# not race its own build). Figures from a sanitizer build would be useless.
bench_make() {
    cmake -S "$bench_root" -B "$bench_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    if grep -q '^CUEVOX_SANITIZE:BOOL=ON' "$bench_build/CMakeCache.txt"; then
        echo "bench: $bench_build is a sanitizer build; set CUEVOX_BUILD to a RelWithDebInfo one" >&2
        exit 2
    fi
    cmake --build "$bench_build" -j1 --target "$@" >/dev/null
}

# Starts Xvfb+openbox, PulseAudio's null sink and speech-dispatcher in a
# state folder of their own, stopped again when the calling script exits.
bench_state=""
bench_services_start() {
    bench_state=$(mktemp -d /tmp/cuevox-bench.XXXXXX)
    trap bench_cleanup EXIT
    # A display number already taken outside this machine's view makes the
    # window manager fail to start; another number usually works.
    local attempt
    for attempt in 1 2 3; do
        "$bench_root/tools/services.sh" start "$bench_state/services" >/dev/null 2>"$bench_state/services.err" \
            && break
        "$bench_root/tools/services.sh" stop "$bench_state/services"
        if [ "$attempt" = 3 ]; then
            cat "$bench_state/services.err" >&2
            echo "bench: the desktop services did not start" >&2
            exit 1
        fi
    done
    # shellcheck disable=SC1091
    source "$bench_state/services/env"
}

bench_cleanup() {
    [ -n "${time_pid:-}" ] && kill "$time_pid" 2>/dev/null
    [ -n "${recorder_pid:-}" ] && kill "$recorder_pid" 2>/dev/null
    [ -n "$bench_state" ] || return 0
    speechd_stop
    "$bench_root/tools/services.sh" stop "$bench_state/services"
    rm -rf "$bench_state"
}

# The speech service, cold or warm. A service that the program started itself
# writes its pid below the runtime folder; the one started here is stopped by
# the pid file that services.sh stops.
speechd_stop() {
    local pidfile pid
    [ -n "$bench_state" ] || return 0
    for pidfile in "$bench_state/services/speechd.pid" \
                   "${XDG_RUNTIME_DIR:-/nonexistent}/speech-dispatcher/pid/speech-dispatcher.pid"; do
        [ -f "$pidfile" ] || continue
        pid=$(cat "$pidfile")
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        rm -f "$pidfile"
    done
    rm -f "${XDG_RUNTIME_DIR:-/nonexistent}/speech-dispatcher/speechd.sock"
}

# Running, and warm: its voice module has spoken once (into the null sink,
# before any recording starts).
speechd_start_warm() {
    speechd_stop
    speech-dispatcher -d -t 0 -P "$bench_state/services/speechd.pid" \
        >>"$bench_state/speechd.log" 2>&1 || true
    for _ in $(seq 100); do
        [ -S "$XDG_RUNTIME_DIR/speech-dispatcher/speechd.sock" ] && break
        sleep 0.1
    done
    spd-say -w "ready" >/dev/null 2>&1 || true
}

# A test picture with a silent sound track but for a 50 ms 3 kHz beep at
# 0.5 s, 2.5 s, 4.5 s ...: marks of the video's own time on a recording. The
# slider's start position plays it at 1/8 of its level; 0.8 keeps it well
# above the detection threshold there.
make_beep_movie() { # file seconds
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "testsrc=size=320x240:rate=25:duration=$2" \
        -f lavfi -i "aevalsrc='0.8*sin(2*PI*3000*t)*gte(t,0.5)*lt(mod(t-0.5,2),0.05)':s=44100:d=$2" \
        -c:v wmv2 -b:v 300k -c:a wmav2 -b:a 96k -f asf "$1.part"
    mv "$1.part" "$1"
}

# Where the first beep lies in the player's timeline, in seconds: the sound
# track decoded from time 0 by the same GStreamer decoders the program uses
# (audiorate fills from 0, so a sample's place is its time).
first_beep_s() { # movie
    local raw
    raw=$(mktemp /tmp/cuevox-beep.XXXXXX)
    gst-launch-1.0 -q filesrc location="$1" ! decodebin ! audioconvert ! audiorate ! audioresample \
        ! audio/x-raw,format=S16LE,rate=16000,channels=1 ! filesink location="$raw" >/dev/null
    python3 "$bench_root/bench/sound.py" beep "$raw"
    rm -f "$raw"
}

# A folder holding a copy of the executable, the movie and the script, as a
# user installs it.
install_cuevox() { # folder movie dub-text
    mkdir -p "$1"
    cp "$cuevox_bin" "$1/cuevox"
    cp "$2" "$1/movie.wmv"
    printf '%s' "$3" >"$1/dub.txt"
}

# Records the null sink's monitor, 16 kHz mono 16-bit, as the tests do.
recorder_pid=""
record_start() { # file
    parec -d nullsink.monitor --format=s16le --rate=16000 --channels=1 --latency-msec=10 --raw "$1" &
    recorder_pid=$!
    sleep 0.3
}
record_stop() {
    [ -n "$recorder_pid" ] || return 0
    kill "$recorder_pid" 2>/dev/null || true
    wait "$recorder_pid" 2>/dev/null || true
    recorder_pid=""
}

# Starts the program in its folder under /usr/bin/time (user s, sys s, peak
# KiB, wall s into FOLDER/time.txt) and waits for its window; sets time_pid,
# cuevox_pid and cuevox_window.
time_pid=""
cuevox_start() { # folder
    rm -f "$1/time.txt"
    (cd "$1" && exec /usr/bin/time -f "%U %S %M %e" -o "$1/time.txt" ./cuevox 2>>"$1/stderr.txt") &
    time_pid=$!
    cuevox_window=""
    for _ in $(seq 200); do
        cuevox_window=$(xdotool search --onlyvisible --name '^Cuevox$' 2>/dev/null | head -n 1 || true)
        [ -n "$cuevox_window" ] && break
        sleep 0.05
    done
    [ -n "$cuevox_window" ] || { echo "bench: no Cuevox window" >&2; return 1; }
    cuevox_pid=$(pgrep -P "$time_pid" | head -n 1)
}

# Clicks Play at its design position (tests/desktop.h: PlayButton), scaled as
# the window is. Geometry from xwininfo: xdotool's counts the frame twice
# under openbox. No --sync: it hangs when the pointer already stands there.
cuevox_play() {
    local x y w
    x=$(xwininfo -id "$cuevox_window" | awk -F: '/Absolute upper-left X/ {print $2+0}')
    y=$(xwininfo -id "$cuevox_window" | awk -F: '/Absolute upper-left Y/ {print $2+0}')
    w=$(xwininfo -id "$cuevox_window" | awk -F: '/^ *Width/ {print $2+0}')
    xdotool mousemove "$(( x + 254 * w / 522 ))" "$(( y + 407 * w / 522 ))" click 1
}

# Closes the window as a user would and waits for the program to end.
cuevox_close() {
    wmctrl -i -c "$cuevox_window"
    for _ in $(seq 150); do
        kill -0 "$time_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$time_pid" 2>/dev/null; then
        echo "bench: Cuevox did not close; killing it" >&2
        kill "$cuevox_pid" 2>/dev/null || true
    fi
    wait "$time_pid" 2>/dev/null || true
    time_pid=""
}

# Kilobytes of resident memory of a process now.
rss_kib() { # pid
    awk '/^VmRSS:/ {print $2}' "/proc/$1/status" 2>/dev/null
}

# Median of the numbers given, one a line on standard input.
median() {
    sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2];
                                     else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}
