#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz", clang, build/fuzz) and runs each
# for SECONDS seconds (default 60), starting from its seed corpus in
# tests/fuzz/corpus/<target>/. Fails on the first crash, leak, sanitizer report
# or broken check; the input that did it is left in build/fuzz/artifacts/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case $seconds in '' | *[!0-9]*)
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
  ;;
esac

scripts/setup.sh
if ! command -v clang++ >/dev/null || ! compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  echo "fuzz: installing clang"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev >/dev/null
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
mkdir -p "$out/artifacts"
status=0
for target in profile capture; do
  # New inputs go to a scratch corpus; the checked-in seeds are only read.
  work="$out/corpus/$target"
  mkdir -p "$work"
  echo "fuzz: $target for ${seconds}s"
  if ! "$out/tests/fuzz/fuzz_$target" "$work" "tests/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$out/artifacts/$target-" -print_final_stats=1 \
      >"$out/$target.log" 2>&1; then
    status=1
    tail -n 60 "$out/$target.log"
    echo "fuzz: $target FAILED (log: $out/$target.log)"
  else
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$out/$target.log" || true
    echo "fuzz: $target passed"
  fi
done
exit $status
