#!/bin/sh
# Opus with opusenc.   opus.sh KBPS INPUT.wav OUTPUT.opus TITLE
set -eu
exec opusenc --quiet --bitrate "$1" --title "$4" "$2" "$3"
