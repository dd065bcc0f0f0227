#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each one for a given time.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]
#
# SECONDS is the fuzzing time per target (default 60); 0 only replays the committed corpus
# (tests/fuzz/corpus/<target>/), which is what a quick CI run wants. With no TARGET every target
# runs, one after another. Each target runs from a scratch install folder of its own
# (<build>/fuzz-run/<target>/sandbox/install), because the handlers it drives write into the
# launcher's own folder; as root it runs as the user nobody, so a path that escapes the scratch
# folder meets the permission checks a player's machine has. New inputs go to
# <build>/fuzz-run/<target>/corpus, findings to <build>/fuzz-run/<target>/artifacts/.
#
# Environment: FUZZ_BUILD (build folder, default build-fuzz), FUZZ_JOBS (build jobs, default 2),
# FUZZ_VERBOSE=1 (let the launcher's diagnostics through).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-$root/build-fuzz}
case "$build" in /*) ;; *) build=$root/$build ;; esac
all_targets=(fuzz_fields fuzz_dispatch fuzz_extract fuzz_profile fuzz_versions fuzz_delta)
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

# Nothing listens on port 1: every download the handlers try is refused at once.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DLAUNCHER_FUZZ=ON \
  -DLAUNCHER_UPDATE_URL=http://127.0.0.1:1/ >/dev/null
cmake --build "$build" -j "${FUZZ_JOBS:-2}" --target "${targets[@]}"

run_as=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  run_as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

passed=0
failed=0
for target in "${targets[@]}"; do
  run=$build/fuzz-run/$target
  sandbox=$run/sandbox
  rm -rf "$sandbox"
  mkdir -p "$sandbox/install" "$run/corpus" "$run/artifacts"
  touch "$sandbox/install/.fuzz-scratch"
  cp "$build/tests/fuzz/$target" "$sandbox/install/$target"
  seeds=$root/tests/fuzz/corpus/$target
  mkdir -p "$seeds"
  as_user=("${run_as[@]}")
  if [ ${#as_user[@]} -gt 0 ]; then
    chown -R nobody:nogroup "$run"
    # A clone under a private folder (a home of mode 700) is out of nobody's reach: run as we are.
    "${as_user[@]}" test -x "$sandbox/install/$target" -a -r "$seeds" -a -w "$run/corpus" 2>/dev/null || as_user=()
  fi

  if [ "$seconds" -eq 0 ]; then
    mode=(-runs=0 "$seeds")
  else
    mode=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=3072 -print_final_stats=1
          "$run/corpus" "$seeds")
  fi
  log=$run/last.log
  set +e
  (cd "$sandbox/install" &&
    "${as_user[@]}" "./$target" -artifact_prefix="$run/artifacts/" "${mode[@]}") >"$log" 2>&1
  status=$?
  set -e
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  if [ $status -eq 0 ]; then
    passed=$((passed + 1))
    echo "$target: no finding (${runs:-?} executions; log $log)"
  else
    failed=$((failed + 1))
    echo "$target: FINDING, exit $status; log $log, inputs in $run/artifacts/"
    grep -m 40 -E 'ERROR|SUMMARY|broken|Base64|Test unit written|#[0-9]+ 0x|runtime error|the tree changed|^  [-+] ' "$log" || tail -40 "$log"
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ $failed -eq 0 ]
