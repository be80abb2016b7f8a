#!/usr/bin/env bash
# Figures for Cuevox on the test desktop (Xvfb+openbox, PulseAudio's null
# sink, speech-dispatcher), printed as one table; nothing passes or fails.
#
#   bash bench/run.sh [playback|onset|stall|all] [RUNS]     (all, 5)
#
# playback  CPU seconds and peak RSS to play the demo movie to its end:
#           Cuevox against mpv and gst-launch-1.0 playbin on the same file.
# onset     when each cue is heard against the video's own beeps, with the
#           speech service warm, and the first cue when Cuevox has to start
#           the service itself (cold).
# stall     the longest time the GUI thread is held up around the first cue,
#           with no cue, a warm and a cold service (bench_stall).
#
# Each comparison alternates its commands within one run of this script;
# medians over RUNS. Installs what it needs, builds in CUEVOX_BUILD (default
# build/, RelWithDebInfo) with one job, and starts its own services.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

what=${1:-all}
runs=${2:-5}
case "$what" in playback|onset|stall|all) ;; *) echo "usage: $0 [playback|onset|stall|all] [RUNS]" >&2; exit 2 ;; esac
stall_bin=${BENCH_STALL_BIN:-$bench_build/bench/bench_stall}

bench_install
targets=(cuevox demo)
if [ "$what" = stall ] || [ "$what" = all ]; then
    [ -n "${BENCH_STALL_BIN:-}" ] || targets+=(bench_stall)
fi
bench_make "${targets[@]}"
bench_services_start
work=$bench_state/work
mkdir -p "$work"
movie=$bench_build/movie.wmv
table=$work/table.txt
: >"$table"

say() { echo "$*" >&2; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {print (b > 0 ? a / b : "nan")}'; }

# --- Playback cost ------------------------------------------------------------

# One player to the end of the movie; appends "user sys peakKiB wall".
play_cuevox() {
    local dir=$work/cuevox
    rm -rf "$dir"
    install_cuevox "$dir" "$movie" ""
    cuevox_start "$dir"
    sleep 0.5
    cuevox_play
    # The demo is 30 s; Cuevox holds its last picture at the end, so it is
    # closed a little after.
    sleep 31
    cuevox_close
    cat "$dir/time.txt"
}

play_mpv() {
    /usr/bin/time -f "%U %S %M %e" -o "$work/time.txt" \
        mpv --no-config --vo=x11 --ao=pulse "$movie" </dev/null >/dev/null 2>&1
    cat "$work/time.txt"
}

play_gst() {
    /usr/bin/time -f "%U %S %M %e" -o "$work/time.txt" \
        gst-launch-1.0 -q playbin "uri=file://$movie" </dev/null >/dev/null 2>&1
    cat "$work/time.txt"
}

bench_playback() {
    local players=(cuevox mpv gst) run i player line
    for run in $(seq "$runs"); do
        # The order turns each run, so no player always goes first.
        for i in 0 1 2; do
            player=${players[$(( (run + i) % 3 ))]}
            line=$("play_$player" | tail -n 1)
            say "playback run $run $player: user sys peakKiB wall = $line"
            echo "$player $line" >>"$work/playback.txt"
        done
    done
    local cpu rss wall mpv_cpu mpv_rss
    mpv_cpu=$(awk '$1 == "mpv" {print $2 + $3}' "$work/playback.txt" | median)
    mpv_rss=$(awk '$1 == "mpv" {print $4}' "$work/playback.txt" | median)
    {
        echo "Playback of the demo movie to its end (30 s, 640x480 WMV2/WMA2), medians of $runs runs"
        printf '  %-12s %8s %8s %8s %10s %8s %9s %9s\n' player "CPU s" "user s" "sys s" "RSS MiB" "wall s" "CPU/mpv" "RSS/mpv"
        for player in cuevox mpv gst; do
            cpu=$(awk -v p="$player" '$1 == p {print $2 + $3}' "$work/playback.txt" | median)
            rss=$(awk -v p="$player" '$1 == p {print $4}' "$work/playback.txt" | median)
            wall=$(awk -v p="$player" '$1 == p {print $5}' "$work/playback.txt" | median)
            printf '  %-12s %8.2f %8.2f %8.2f %10.1f %8.1f %8.2fx %8.2fx\n' \
                "$([ "$player" = gst ] && echo gst-launch || echo "$player")" "$cpu" \
                "$(awk -v p="$player" '$1 == p {print $2}' "$work/playback.txt" | median)" \
                "$(awk -v p="$player" '$1 == p {print $3}' "$work/playback.txt" | median)" \
                "$(ratio "$rss" 1024)" "$wall" "$(ratio "$cpu" "$mpv_cpu")" "$(ratio "$rss" "$mpv_rss")"
        done
        echo "  Goal: Cuevox CPU at most mpv's (1.00x), RSS at most 1.10x mpv's."
        echo
    } >>"$table"
}

# --- Cue onset ----------------------------------------------------------------

# Plays a beep movie with its script, records the monitor, and prints
# sound.py's lines for the given cue times.
onset_run() { # name movie seconds first-beep cue-seconds...
    local name=$1 beeps=$2 length=$3 first=$4
    shift 4
    local dir=$work/$name dub="" cue
    rm -rf "$dir"
    for cue in "$@"; do
        dub+=$(printf '[00:00.%02d]number %d' "$cue" "$cue")$'\n'
    done
    install_cuevox "$dir" "$beeps" "$dub"
    record_start "$dir/monitor.raw"
    cuevox_start "$dir"
    sleep 0.8
    cuevox_play
    sleep "$(( length + 1 ))"
    cuevox_close
    record_stop
    python3 "$bench_root/bench/sound.py" cues "$dir/monitor.raw" "$first" "$@"
}

bench_onset() {
    local warm_cues cold_cues run out warm_beep cold_beep
    # Cues half a second after a beep, so speech never covers the next beep.
    warm_cues=$(seq 3 2 45)
    cold_cues="5 7 9"
    make_beep_movie "$work/warm.wmv" 48
    make_beep_movie "$work/cold.wmv" 12
    warm_beep=$(first_beep_s "$work/warm.wmv")
    cold_beep=$(first_beep_s "$work/cold.wmv")
    say "onset: first beep at $warm_beep s (warm movie), $cold_beep s (cold movie) of the player's time"
    for run in $(seq "$runs"); do
        speechd_start_warm
        # shellcheck disable=SC2086
        out=$(onset_run warm "$work/warm.wmv" 48 "$warm_beep" $warm_cues)
        say "onset run $run warm: $(echo "$out" | tail -n 1)"
        echo "$out" | awk '$1 == "cue" {print $6}' >>"$work/warm-errors.txt"
        echo "$out" | tail -n 1 >>"$work/warm-summary.txt"

        # Cold: no service runs; the program's connection 2 s ahead of the
        # first cue starts one (libspeechd's autospawn).
        speechd_stop
        # shellcheck disable=SC2086
        out=$(onset_run cold "$work/cold.wmv" 12 "$cold_beep" $cold_cues)
        say "onset run $run cold: $(echo "$out" | awk '$1 == "cue" {printf "%s ", $6}') $(echo "$out" | tail -n 1)"
        echo "$out" | awk '$1 == "cue" && $2 == 5 {print $6}' >>"$work/cold-first.txt"
        echo "$out" | awk '$1 == "cue" && $2 != 5 {print $6}' >>"$work/cold-later.txt"
    done
    speechd_start_warm
    stats() { # file: median min p90 max count (nan entries are cues not heard)
        local heard
        heard=$(grep -v nan "$1" | sort -g || true)
        printf '%8s %8s %8s %8s %6s %6s' \
            "$(echo "$heard" | grep . | median)" \
            "$(echo "$heard" | grep . | head -n 1)" \
            "$(echo "$heard" | grep . | awk '{v[NR] = $1} END {i = int(NR * 0.9 + 0.5); print v[i < 1 ? 1 : i]}')" \
            "$(echo "$heard" | grep . | tail -n 1)" \
            "$(echo "$heard" | grep -c .)" "$(grep -c nan "$1" || true)"
    }
    {
        echo "Cue onset: first audible speech minus the cue's moment by the video's own beeps, ms, $runs runs"
        printf '  %-34s %8s %8s %8s %8s %6s %6s\n' "" median min p90 max heard missed
        printf '  %-34s %s\n' "warm service, 22 cues a run" "$(stats "$work/warm-errors.txt")"
        printf '  %-34s %s\n' "cold: first cue (at 0:05)" "$(stats "$work/cold-first.txt")"
        printf '  %-34s %s\n' "cold: the cues after it" "$(stats "$work/cold-later.txt")"
        echo "  Goals: warm median within +-15 ms, warm max <= 50 ms; cold first cue <= 100 ms late."
        echo
    } >>"$table"
}

# --- GUI stall ----------------------------------------------------------------

bench_stall() {
    local run mode line
    for run in $(seq "$runs"); do
        for mode in none warm cold; do
            if [ "$mode" = cold ]; then speechd_stop; else speechd_start_warm; fi
            line=$("$stall_bin" "$movie" "$([ "$mode" = none ] && echo none || echo cue)" 4 2>/dev/null | tail -n 1)
            say "stall run $run $mode: $line"
            echo "$mode $line" >>"$work/stall.txt"
        done
    done
    speechd_start_warm
    {
        echo "GUI thread stall: largest gap between firings of a 1 ms timer over 4 s of play, ms, $runs runs"
        printf '  %-30s %7s %7s %8s %11s %10s %8s %8s\n' "" "median" "max" "p99 gap" "connect ms" "spoken ms" "Play ms" "late ms"
        for mode in none warm cold; do
            printf '  %-30s %7s %7s %8s %11s %10s %8s %8s\n' \
                "$(case $mode in none) echo "no cue (playing only)";; warm) echo "cue at 0:01, warm service";;
                   cold) echo "cue at 0:01, cold service";; esac)" \
                "$(awk -v m=$mode '$1 == m {print $3}' "$work/stall.txt" | median)" \
                "$(awk -v m=$mode '$1 == m {print $3}' "$work/stall.txt" | sort -g | tail -n 1)" \
                "$(awk -v m=$mode '$1 == m {print $7}' "$work/stall.txt" | median)" \
                "$(awk -v m=$mode '$1 == m {print $11}' "$work/stall.txt" | median)" \
                "$(awk -v m=$mode '$1 == m {print $13}' "$work/stall.txt" | median)" \
                "$(awk -v m=$mode '$1 == m {print $15}' "$work/stall.txt" | median)" \
                "$(awk -v m=$mode '$1 == m {print $17}' "$work/stall.txt" | median)"
        done
        echo "  Goal: largest gap <= 30 ms. Gaps count from the moment the Play press returned; Play ms is"
        echo "  the press itself (the pipeline starting). connect/spoken: ms after Play; late: how far past"
        echo "  its time the movie was when the cue was handed to the voice; -1 = did not happen."
        echo
    } >>"$table"
}

say "bench: $(date -u +%Y-%m-%d), $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), load $(cut -d' ' -f1-3 /proc/loadavg)"
case "$what" in
    playback) bench_playback ;;
    onset) bench_onset ;;
    stall) bench_stall ;;
    all) bench_playback; bench_onset; bench_stall ;;
esac
echo
echo "Cuevox benchmarks, $(date -u +%Y-%m-%d), $(nproc) cores, load at the end $(cut -d' ' -f1-3 /proc/loadavg)"
echo
cat "$table"
