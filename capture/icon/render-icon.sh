#!/bin/sh
# Renders quorvel.svg into the PNGs of the hicolor sizes and into quorvel.ico.
# Needs rsvg-convert (librsvg2-bin) and Python 3 with PIL (python3-pil); the
# build does not: the results are kept in the repository.
set -eu
cd "$(dirname "$0")"
for size in 16 24 32 48 128 256; do
  rsvg-convert -w "$size" -h "$size" quorvel.svg -o "quorvel-$size.png"
done
/usr/bin/python3 make_ico.py quorvel.ico
