#!/bin/sh
# MP3 with lame, variable bit rate.   mp3.sh V-LEVEL INPUT.wav OUTPUT.mp3 TITLE [CHAPTERS]
# CHAPTERS, when given, is an ffmetadata file: lame encodes beside the output,
# then ffmpeg copies the audio into the output with the chapters as ID3 CHAP frames.
set -eu
if [ -z "${5:-}" ]; then
  exec lame --quiet --noreplaygain -V "$1" --tt "$4" "$2" "$3"
fi
encoded="$3.lame.mp3"
trap 'rm -f "$encoded"' EXIT
lame --quiet --noreplaygain -V "$1" --tt "$4" "$2" "$encoded"
ffmpeg -nostdin -hide_banner -loglevel error -y -i "file:$encoded" -f ffmetadata -i "file:$5" \
  -map 0:a -map_chapters 1 -c copy -id3v2_version 3 -f mp3 "file:$3"
