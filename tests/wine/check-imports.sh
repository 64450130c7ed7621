#!/usr/bin/env bash
# Every Windows program of the build stands alone: it imports DLLs of the system
# only, never a runtime DLL (libstdc++, libgcc, winpthread) that would have to
# ship beside it.
#   check-imports.sh OBJDUMP BUILD_DIR [FOLDER_TO_SKIP...]
set -euo pipefail
objdump=$1
build=$2
shift 2

allowed='^(kernel32|user32|gdi32|comctl32|comdlg32|advapi32|shell32|ole32|oleaut32|uxtheme|msvcrt|ws2_32|shlwapi|version|imm32|winmm|bcrypt|crypt32|secur32|userenv|dbghelp|ntdll|api-ms-win-crt-[a-z0-9-]+|api-ms-win-core-[a-z0-9-]+)\.dll$'

prune=(-path "$build/CMakeFiles" -prune)
for skip in "$@"; do prune+=(-o -path "$skip" -prune); done

count=0
bad=0
while IFS= read -r -d '' exe; do
  count=$((count + 1))
  dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  if [ -z "$dlls" ]; then
    echo "FAIL $exe: no import table found"
    bad=$((bad + 1))
    continue
  fi
  while IFS= read -r dll; do
    if ! echo "$dll" | tr '[:upper:]' '[:lower:]' | grep -Eq "$allowed"; then
      echo "FAIL $exe imports $dll"
      bad=$((bad + 1))
    fi
  done <<<"$dlls"
done < <(find "$build" \( "${prune[@]}" \) -o -type f -iname '*.exe' -print0)

if [ "$count" -eq 0 ]; then
  echo "no .exe found under $build"
  exit 1
fi
echo "$count programs checked, $bad foreign imports"
[ "$bad" -eq 0 ]
