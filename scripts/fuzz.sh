#!/usr/bin/env bash
# Builds the fuzz targets (fuzz/, clang 14 with libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for SECONDS
# (default 180), one after the other, starting from the seeds in
# fuzz/corpus/<target>. New corpus entries are kept in
# build-fuzz/corpus/<target>, any crashing, hanging or memory-hungry input in
# build-fuzz/findings/. Fails when a target found anything.
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]
#
# A hang is an input that takes over 5 s; memory is limited to 2 GiB.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-180}
shift || true
all_targets=(records state_file preferences bookmarks date http_request multipart)
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")

scripts/install-deps.sh --fuzz
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
jobs=$(nproc 2>/dev/null || echo 2)
ninja -C build-fuzz -j"$jobs" "${targets[@]/%/_fuzzer}"

declare -A dictionary=(
  [records]=json [state_file]=json [preferences]=json [bookmarks]=json
  [date]=date [http_request]=http [multipart]=multipart
)
mkdir -p build-fuzz/findings
failed=()
for target in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$target
  mkdir -p "$corpus"
  echo "== $target: ${seconds} s"
  # The first corpus folder receives the new entries; the committed seeds
  # are only read.
  if ! build-fuzz/"${target}"_fuzzer "$corpus" "fuzz/corpus/$target" \
      -dict="fuzz/dict/${dictionary[$target]}.dict" \
      -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -malloc_limit_mb=2048 \
      -max_len=16384 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/${target}-" \
      > "build-fuzz/${target}.log" 2>&1; then
    failed+=("$target")
    tail -n 60 "build-fuzz/${target}.log"
  fi
  grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb|^#[0-9]+ +DONE' "build-fuzz/${target}.log" || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "Fuzzing found inputs that fail: ${failed[*]} (see build-fuzz/findings/)" >&2
  exit 1
fi
echo "Fuzzing found nothing in ${#targets[@]} targets."
