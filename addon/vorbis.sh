#!/bin/sh
# Ogg Vorbis with oggenc.   vorbis.sh QUALITY INPUT.wav OUTPUT.ogg TITLE
set -eu
exec oggenc --quiet -q "$1" -t "$4" -o "$3" "$2"
