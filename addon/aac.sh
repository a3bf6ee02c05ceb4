#!/bin/sh
# AAC in .m4a with ffmpeg's encoder.   aac.sh BITRATE INPUT.wav OUTPUT.m4a TITLE [CHAPTERS]
# CHAPTERS, when given, is an ffmetadata file whose chapters become the file's
# chapter track. The file: prefix keeps any file name a plain file name for ffmpeg.
set -eu
if [ -n "${5:-}" ]; then
  exec ffmpeg -nostdin -hide_banner -loglevel error -y -i "file:$2" -f ffmetadata -i "file:$5" \
    -map 0:a -map_chapters 1 -c:a aac -b:a "$1" -metadata title="$4" -movflags +faststart -f ipod "file:$3"
fi
exec ffmpeg -nostdin -hide_banner -loglevel error -y -i "file:$2" \
  -c:a aac -b:a "$1" -metadata title="$4" -movflags +faststart -f ipod "file:$3"
