#!/usr/bin/env bash
# A long play of one movie with a cue every 2 s, on the test desktop:
#
#   bash bench/soak.sh [MINUTES]      (10; 1 takes about a minute and a half)
#
# Checks that every cue is heard exactly once, in order (speech onsets on the
# null sink's monitor against the movie's own beeps), and that the program's
# resident memory, sampled every 10 s, stays flat from the end of the first
# minute (the first third of a shorter run) to the end. Prints the figures;
# exits 1 when a cue is missing, doubled or out of place, or the memory grew by
# more than 10 %. Nothing here is timed against a limit.
set -euo pipefail
# shellcheck source=bench/lib.sh
source "$(dirname "$0")/lib.sh"

minutes=${1:-10}
case "$minutes" in ''|*[!0-9]*|0) echo "usage: $0 [MINUTES]" >&2; exit 2 ;; esac
length=$(( minutes * 60 ))
growth_limit=10

bench_install python3 time
bench_make cuevox
bench_services_start
work=$bench_state/work
mkdir -p "$work"

# Cues half a second after each beep from 0:03 to 3 s before the end; short
# words, so each is over well before the next.
words=(red green blue yellow white black orange purple)
cues=()
dub=""
for (( second = 3; second <= length - 3; second += 2 )); do
    cues+=("$second")
    dub+=$(printf '[00:%02d.%02d]%s' $(( second / 60 )) $(( second % 60 )) "${words[$(( ${#cues[@]} % ${#words[@]} ))]}")$'\n'
done
make_beep_movie "$work/soak.wmv" "$length"
first_beep=$(first_beep_s "$work/soak.wmv")
install_cuevox "$work/app" "$work/soak.wmv" "$dub"

speechd_start_warm
record_start "$work/monitor.raw"
cuevox_start "$work/app"
sleep 0.8
cuevox_play
started=$(date +%s.%N)
: >"$work/rss.txt"
for (( at = 0; at <= length; at += 10 )); do
    # Sleeps to the next 10 s mark of the play, so the marks do not drift.
    sleep "$(awk -v s="$started" -v a="$at" -v n="$(date +%s.%N)" 'BEGIN {d = s + a - n; print (d > 0 ? d : 0)}')"
    echo "$at $(rss_kib "$cuevox_pid")" >>"$work/rss.txt"
done
sleep 2
peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$cuevox_pid/status")
cuevox_close
record_stop

python3 "$bench_root/bench/sound.py" cues "$work/monitor.raw" "$first_beep" "${cues[@]}" >"$work/cues.txt" || {
    cat "$work/cues.txt"
    echo "soak: the movie's beeps were not heard" >&2
    exit 1
}
summary=$(tail -n 1 "$work/cues.txt")
read -r _ _ count _ once _ missing _ doubled _ extra _ beeps <<<"$summary"

# Memory from the end of the first minute, or of the first third of a shorter run.
from=$(( length / 3 < 60 ? length / 3 / 10 * 10 : 60 ))
first=$(awk -v f="$from" '$1 >= f {print $2; exit}' "$work/rss.txt")
last=$(tail -n 1 "$work/rss.txt" | cut -d' ' -f2)
max=$(awk -v f="$from" '$1 >= f && $2 > m {m = $2} END {print m}' "$work/rss.txt")
growth=$(awk -v a="$first" -v b="$last" 'BEGIN {printf "%.1f", (b - a) * 100 / a}')

echo "Soak: $minutes min movie, a cue every 2 s, $(date -u +%Y-%m-%d), load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '  cues %d: heard once %d, missing %d, doubled %d, speech outside any cue %d (beeps heard %d)\n' \
    "$count" "$once" "$missing" "$doubled" "$extra" "$beeps"
awk '$1 == "cue" && $4 != 1 {printf "    cue at %s s heard %s times\n", $2, $4}' "$work/cues.txt"
printf '  onset ms after the cue'"'"'s moment: median %s, max %s\n' \
    "$(awk '$1 == "cue" && $6 != "nan" {print $6}' "$work/cues.txt" | median)" \
    "$(awk '$1 == "cue" && $6 != "nan" {print $6}' "$work/cues.txt" | sort -g | tail -n 1)"
printf '  RSS MiB: at %d s %.1f, last %.1f, max since %.1f, growth %s %%, peak (VmHWM) %.1f\n' \
    "$from" "$(awk -v k="$first" 'BEGIN {print k / 1024}')" "$(awk -v k="$last" 'BEGIN {print k / 1024}')" \
    "$(awk -v k="$max" 'BEGIN {print k / 1024}')" "$growth" "$(awk -v k="$peak" 'BEGIN {print k / 1024}')"
echo "  RSS KiB every 10 s: $(cut -d' ' -f2 "$work/rss.txt" | xargs)"

status=0
if [ "$once" != "$count" ] || [ "$extra" != 0 ]; then
    echo "soak: not every cue was heard exactly once" >&2
    status=1
fi
if awk -v g="$growth" -v l="$growth_limit" 'BEGIN {exit !(g > l)}'; then
    echo "soak: resident memory grew by $growth % (more than $growth_limit %)" >&2
    status=1
fi
exit "$status"
