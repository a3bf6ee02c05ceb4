#!/bin/sh
# AAC in .m4a with ffmpeg's encoder.   aac.sh BITRATE INPUT.wav OUTPUT.m4a TITLE
# The file: prefix keeps any file name a plain file name for ffmpeg.
set -eu
exec ffmpeg -nostdin -hide_banner -loglevel error -y -i "file:$2" \
  -c:a aac -b:a "$1" -metadata title="$4" -movflags +faststart -f ipod "file:$3"
