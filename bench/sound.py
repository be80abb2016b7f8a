#!/usr/bin/env python3
"""Reads recordings (16 kHz mono s16le, as bench/lib.sh makes them) of a
beep movie (make_beep_movie: a 50 ms 3 kHz beep every 2 s from 0.5 s).

    sound.py beep RAW
        RAW is the movie's sound track decoded from time 0: prints the first
        beep's time in seconds. The audio codec delays the beeps (WMA2 by
        2048 samples), so in the player's timeline they lie later than
        where they were put; this is where they really are.

    sound.py cues RAW FIRST_BEEP CUE_SECONDS...
        RAW is the null sink's monitor while Cuevox played the movie and
        spoke the script; FIRST_BEEP what "beep" printed. A cue's moment on
        the recording is the nearest earlier beep heard plus the difference
        in video time, so delays of start-up, clicks and recording do not
        count. Prints one line per cue

            cue SECONDS onsets N error MS      (error: first onset - moment)

        then "summary cues N once N missing N doubled N extra N beeps N".
"""

import array
import math
import sys

RATE = 16000
WINDOW = RATE // 100  # 10 ms
BEEP_HZ = 3000.0
BEEP_PERIOD_MS = 2000.0
AUDIBLE = 200  # |sample| above this counts as sound (about -44 dBFS)


def read(path):
    samples = array.array("h")
    with open(path, "rb") as f:
        data = f.read()
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def windows(samples):
    """(rms, share of the energy at 3 kHz) for each 10 ms, as
    tests/desktop.h computes them; quiet windows skip the tone filter."""
    coefficient = 2 * math.cos(2 * math.pi * BEEP_HZ / RATE)
    result = []
    for start in range(0, len(samples) - WINDOW + 1, WINDOW):
        chunk = samples[start:start + WINDOW]
        if max(chunk) < 100 and -min(chunk) < 100:
            result.append((0.0, 0.0))
            continue
        energy = 0.0
        s1 = s2 = 0.0
        for x in chunk:
            energy += x * x
            s0 = x + coefficient * s1 - s2
            s2, s1 = s1, s0
        tone = s1 * s1 + s2 * s2 - coefficient * s1 * s2
        result.append((math.sqrt(energy / WINDOW), min(1.0, 2 * tone / (WINDOW * energy))))
    return result


def stretches(flags, min_ms, gap_ms):
    """Start (ms) of each run of flagged windows; a run ends after gap_ms
    without a flag, and runs shorter than min_ms in all are noise."""
    runs = []
    for i, inside in enumerate(flags):
        if not inside:
            continue
        ms = i * 10
        if not runs or ms - runs[-1][2] > gap_ms:
            runs.append([ms, 0, ms])
        runs[-1][1] += 10
        runs[-1][2] = ms
    return [start for start, length, _ in runs if length >= min_ms]


def first_sample(samples, from_ms, to_ms, level):
    """Time (ms) of the first sample in [from_ms, to_ms) louder than level."""
    lo = max(0, int(from_ms * RATE / 1000))
    hi = min(len(samples), int(to_ms * RATE / 1000))
    for i in range(lo, hi):
        if abs(samples[i]) > level:
            return i * 1000.0 / RATE
    return None


def beep_onsets(samples, coarse):
    """A beep starts at its first sample above half its peak: the audio
    codec spreads a faint pre-echo some 20 ms ahead of it."""
    onsets = []
    for ms in coarse:
        lo = int(ms * RATE / 1000)
        peak = max(abs(x) for x in samples[lo:lo + RATE // 20]) if lo < len(samples) else 0
        at = first_sample(samples, ms - 30, ms + 60, peak / 2)
        onsets.append(at if at is not None else float(ms))
    return onsets


def speech_onsets(samples, coarse):
    """Speech starts at its first audible sample; the script's speech comes
    out of silence."""
    onsets = []
    for ms in coarse:
        at = first_sample(samples, ms - 40, ms + 20, AUDIBLE)
        onsets.append(at if at is not None else float(ms))
    return onsets


def find_beeps(samples, analysis):
    return beep_onsets(samples, stretches([r > 300 and s > 0.6 for r, s in analysis], 20, 300))


def first_beep(path):
    samples = read(path)
    beeps = find_beeps(samples, windows(samples))
    if not beeps:
        sys.exit("sound.py: no beep in " + path)
    print("%.4f" % (beeps[0] / 1000))


def cues_heard(path, first_beep_s, cues):
    samples = read(path)
    analysis = windows(samples)
    beeps = find_beeps(samples, analysis)
    speech = speech_onsets(samples, stretches([r > 300 and s < 0.3 for r, s in analysis], 50, 350))
    if not beeps:
        print("summary no beeps heard")
        sys.exit(1)

    # Video time of each beep heard: the recording starts before Play, so
    # the first one heard is the first of the movie.
    by_index = {}
    for t in beeps:
        k = round((t - beeps[0]) / BEEP_PERIOD_MS)
        by_index.setdefault(k, t)

    def moment(cue):
        k = math.floor((cue - first_beep_s) * 1000 / BEEP_PERIOD_MS)
        while k >= 0 and k not in by_index:
            k -= 1
        if k < 0:
            return None
        return by_index[k] + (cue - first_beep_s) * 1000 - k * BEEP_PERIOD_MS

    moments = [moment(c) for c in cues]
    heard = [[] for _ in cues]
    extra = 0
    # Each onset belongs to the last cue due before it (or just after: an
    # early onset within 300 ms still counts as that cue).
    for s in speech:
        owner = None
        for i, m in enumerate(moments):
            if m is not None and m <= s + 300:
                owner = i
        if owner is None:
            extra += 1
        else:
            heard[owner].append(s)

    for cue, m, onsets in zip(cues, moments, heard):
        error = "%.1f" % (onsets[0] - m) if onsets and m is not None else "nan"
        print("cue %g onsets %d error %s" % (cue, len(onsets), error))
    once = sum(1 for h in heard if len(h) == 1)
    missing = sum(1 for h in heard if not h)
    doubled = sum(1 for h in heard if len(h) > 1)
    print("summary cues %d once %d missing %d doubled %d extra %d beeps %d"
          % (len(cues), once, missing, doubled, extra, len(beeps)))


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "beep":
        first_beep(sys.argv[2])
    elif len(sys.argv) >= 5 and sys.argv[1] == "cues":
        cues_heard(sys.argv[2], float(sys.argv[3]), sorted(float(c) for c in sys.argv[4:]))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
