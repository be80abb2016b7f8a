#!/usr/bin/env bash
# Makes the demo beside the executable, unless one is there already:
#   movie.wmv  30 s, WMV2 video and WMA2 audio in ASF, the running time burned
#              into the picture, a soft tone
#   dub.txt    a script that says what the viewer sees at each moment
set -euo pipefail
dir=${1:?folder of the executable}
mkdir -p "$dir"

if [ ! -e "$dir/movie.wmv" ]; then
    font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
    video="testsrc2=size=640x480:rate=25:duration=30"
    if [ -f "$font" ]; then
        video="$video,drawbox=x=170:y=180:w=300:h=120:color=black@0.7:t=fill"
        video="$video,drawtext=fontfile=$font:fontsize=72:fontcolor=white:x=(w-tw)/2:y=(h-th)/2"
        video="$video:text='%{pts\\:gmtime\\:0\\:%M\\\\\\:%S}'"
    fi
    ffmpeg -nostdin -loglevel error -y \
        -f lavfi -i "$video" \
        -f lavfi -i "sine=frequency=330:sample_rate=44100:duration=30,volume=0.15" \
        -c:v wmv2 -b:v 1200k -c:a wmav2 -b:a 96k -f asf "$dir/movie.wmv.part"
    mv "$dir/movie.wmv.part" "$dir/movie.wmv"
fi

if [ ! -e "$dir/dub.txt" ]; then
    cat >"$dir/dub.txt" <<'DUB'
[00:00.01]Welcome to Cuevox. The clock in the picture shows zero zero, zero one.
[00:00.06]Now the clock shows six seconds.
[00:00.10]Ten seconds. Coloured bars move behind the clock.
[00:00.15]Fifteen seconds, half way through.
[00:00.20]Twenty seconds.
[00:00.25]Twenty five seconds. The video ends soon.
[00:00.29]The end.
DUB
fi
