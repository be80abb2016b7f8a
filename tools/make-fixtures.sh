#!/usr/bin/env bash
# Makes the short test videos in the folder given:
#   short.wmv   3 s, moving test picture, 440 Hz tone (WMV2/WMA2 in ASF)
#   silent.wmv  8 s, test picture, silent sound track
#   tone.wmv    12 s, test picture, steady 440 Hz tone
#   beeps.wmv   12 s, test picture, silence but for a 50 ms 3 kHz beep (the slider's middle plays it at 1/8)
#               at 0.5, 2.5, 4.5 ... 10.5 s: marks of the video's own time
#   notmedia.wmv  text that is not a video
set -euo pipefail
out=${1:?folder}
mkdir -p "$out"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=3" \
   -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=3" \
   -c:v wmv2 -b:v 400k -c:a wmav2 -b:a 64k -f asf "$out/short.wmv.tmp"
mv "$out/short.wmv.tmp" "$out/short.wmv"
ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=8" \
   -f lavfi -i "anullsrc=channel_layout=stereo:sample_rate=44100" -t 8 \
   -c:v wmv2 -b:v 300k -c:a wmav2 -b:a 64k -f asf "$out/silent.wmv"
ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=12" \
   -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=12,volume=0.5" \
   -c:v wmv2 -b:v 300k -c:a wmav2 -b:a 64k -f asf "$out/tone.wmv"
ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=12" \
   -f lavfi -i "aevalsrc='0.8*sin(2*PI*3000*t)*gte(t,0.5)*lt(mod(t-0.5,2),0.05)':s=44100:d=12" \
   -c:v wmv2 -b:v 300k -c:a wmav2 -b:a 96k -f asf "$out/beeps.wmv"
echo "This is a text file, not a video." >"$out/notmedia.wmv"
