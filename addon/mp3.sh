#!/bin/sh
# MP3 with lame, variable bit rate.   mp3.sh V-LEVEL INPUT.wav OUTPUT.mp3 TITLE
set -eu
exec lame --quiet --noreplaygain -V "$1" --tt "$4" "$2" "$3"
