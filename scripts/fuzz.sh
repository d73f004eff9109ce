#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz/ with clang (ASan and UBSan on) into
# build-fuzz/ and runs each for SECONDS (default 60) from a copy of its seed corpus,
# so that the inputs it finds stay out of the repository.
#   scripts/fuzz.sh [SECONDS] [NAME...]    NAME: a folder of tests/fuzz/ (default: all)
#   FUZZ_JOBS=2 scripts/fuzz.sh ...        runs that many harnesses at once
# Findings land in build-fuzz/findings/; the exit status is 1 when there are any.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
[ $# -gt 0 ] && shift
jobs=${FUZZ_JOBS:-1}

# clang with libFuzzer and its sanitizer runtimes, on top of the build's packages.
scripts/setup.sh clang libclang-rt-14-dev

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for d in tests/fuzz/*/corpus; do
    names+=("$(basename "$(dirname "$d")")")
  done
fi

# Coverage instrumentation on every library, the fuzzer runtime on the harnesses only.
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DVOK_FUZZ=ON -DVOK_SANITIZE=address,undefined \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
targets=()
for n in "${names[@]}"; do targets+=("fuzz_${n}_libfuzzer"); done
cmake --build build-fuzz -j "$(nproc)" --target "${targets[@]}"

runs="$root/build-fuzz/runs"
findings="$root/build-fuzz/findings"
mkdir -p "$runs" "$findings"

fuzz_one() {
  local n=$1 work="$runs/$1"
  rm -rf "$work" "$findings/$n-"*
  mkdir -p "$work/corpus" "$work/tmp"
  cp "tests/fuzz/$n/corpus/"* "$work/corpus/"
  # The harness output is closed (close_fd_mask); the fuzzer's own goes to the log.
  TMPDIR="$work/tmp" "build-fuzz/bin/fuzz_${n}_libfuzzer" "$work/corpus" \
    -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 -use_value_profile=1 \
    -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$findings/$n-" \
    >"$work/log" 2>&1 || true
  local execs files bytes
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  files=$(find "$work/corpus" -type f | wc -l)
  bytes=$(du -sb "$work/corpus" | cut -f1)
  printf '%-16s %12s executions  corpus %6s files %9s bytes\n' "$n" "${execs:-?}" "$files" "$bytes" \
    >"$work/summary"
}

running=0
for n in "${names[@]}"; do
  echo "fuzzing $n for ${seconds}s"
  fuzz_one "$n" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

total=0
for n in "${names[@]}"; do
  cat "$runs/$n/summary"
  e=$(awk '{print $2}' "$runs/$n/summary")
  [[ "$e" =~ ^[0-9]+$ ]] && total=$((total + e))
done
echo "total            $total executions"
found=()
for n in "${names[@]}"; do
  for f in "$findings/$n-"*; do [ -e "$f" ] && found+=("$f"); done
done
if [ ${#found[@]} -gt 0 ]; then
  echo "findings (replay one with build-fuzz/bin/fuzz_NAME_libfuzzer FILE):"
  printf '%s\n' "${found[@]}"
  exit 1
fi
echo "no findings"
