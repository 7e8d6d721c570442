#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) into their own build folder and runs each one
# in turn for a bounded time, starting from seed corpora that the seed
# generator writes (plus the game's generated data files when a main build
# has made them).  A target that finds something stops; its input lands in
# <build>/artifacts/<target>/ and the script goes on with the next target.
#
#   fuzz/run.sh [target...]        default: every target
#   FUZZ_SECONDS=240               time per target
#   FUZZ_BUILD=build-fuzz          build folder (relative to the repository)
#   FUZZ_JOBS=1                    build jobs
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${FUZZ_SECONDS:-240}
build=${FUZZ_BUILD:-build-fuzz}
# Absolute: a target may change its current folder (the web target serves
# files from a folder of its own).
case $build in /*) ;; *) build=$root/$build ;; esac
jobs=${FUZZ_JOBS:-1}

# clang's fuzzer runtime: Debian 12 ships it in libclang-rt-14-dev.
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
    clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends \
    clang libclang-rt-14-dev || exit 1
fi

CC=clang CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j "$jobs" || exit 1

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in "$build"/fuzz_*; do
    [ -f "$exe" ] && [ -x "$exe" ] || continue
    name=${exe##*/fuzz_}
    [ "$name" = seeds ] || targets+=("$name")
  done
fi

# Seeds: ours, then the game's data files of the matching kind.
seeds=$build/seeds
rm -rf "$seeds"
"$build/fuzz_seeds" "$seeds" || exit 1
game_data=$root/build/game/data
if [ -d "$game_data" ]; then
  copy_kind() {  # kind extension
    find "$game_data" -type f -iname "*.$2" -size -256k -exec cp -t "$seeds/$1" {} + 2>/dev/null || true
  }
  copy_kind pcx pcx; copy_kind bmp bmp; copy_kind s3d s3d; copy_kind l3d l3d
  copy_kind m3d m3d; copy_kind md2 md2
fi

# Inputs for the network targets are scripts; the models and pictures are
# small files, but a picture or a model may be some kilobytes long.
max_len() {
  case $1 in
    frames|web|client) echo 16384 ;;
    *) echo 65536 ;;
  esac
}

summary=()
for target in "${targets[@]}"; do
  exe=$build/fuzz_$target
  [ -x "$exe" ] || { summary+=("$target: not built"); continue; }
  corpus=$build/corpus/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== fuzz_$target for ${seconds}s"
  start=$(date +%s)
  "$exe" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len="$(max_len "$target")" \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "$seeds/$target" \
    >"$build/$target.log" 2>&1
  status=$?
  elapsed=$(( $(date +%s) - start ))
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/$target.log" | grep -o '[0-9]*$')
  cov=$(grep -o 'cov: [0-9]*' "$build/$target.log" | tail -1)
  if [ $status -eq 0 ]; then
    summary+=("$target: ${elapsed}s, ${runs:-?} runs, $cov, nothing found")
  else
    summary+=("$target: ${elapsed}s, FOUND (exit $status): $(ls "$artifacts" | tr '\n' ' ')")
    tail -n 40 "$build/$target.log"
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
