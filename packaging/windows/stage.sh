#!/usr/bin/env bash
# Puts what the Windows packages ship into one folder: the programs stripped of
# their debugging data, and LEIAME.txt in Windows-1252 with CRLF line ends, as
# Notepad of any Windows version shows it.
#   stage.sh STRIP FOLDER LEIAME_UTF8 PROGRAM.exe...
set -euo pipefail
strip=$1 folder=$2 leiame=$3
shift 3
rm -rf "$folder"
mkdir -p "$folder"
for exe in "$@"; do
  "$strip" -o "$folder/$(basename "$exe")" "$exe"
done
iconv -f UTF-8 -t WINDOWS-1252 "$leiame" | sed 's/$/\r/' >"$folder/LEIAME.txt"
