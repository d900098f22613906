#!/usr/bin/env bash
# Runs every fuzz target of build/fuzz: first each kept regression input once,
# then SECONDS seconds of fuzzing from the seed corpus (default 30 per target).
#   fuzz/run.sh [SECONDS] [TARGET...]
# New inputs that reach new code go to build/fuzz/corpus/<target>, so later
# runs go on from there; the seeds in fuzz/corpus are only read. A failing
# input is saved as build/fuzz/artifacts/<target>/crash-* (or leak-, timeout-,
# oom-); once its fault is fixed, keep it in fuzz/regressions/<target>/.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
shift || true
targets=("$@")
((${#targets[@]})) || targets=(command_line_fuzz mask_fuzz rules_file_fuzz)

passed=0
failed=0
for target in "${targets[@]}"; do
  bin=build/fuzz/$target
  log=build/fuzz/logs/$target.log
  mkdir -p build/fuzz/corpus/"$target" build/fuzz/artifacts/"$target" build/fuzz/logs
  if [ ! -x "$bin" ]; then
    echo "fuzz: $bin is not built (cmake --preset fuzz && cmake --build --preset fuzz)"
    failed=$((failed + 1))
    continue
  fi

  mapfile -t kept < <(find fuzz/regressions/"$target" -type f ! -name '.*' 2>/dev/null | sort)
  if ((${#kept[@]})) && ! "$bin" -timeout=10 "${kept[@]}" >"$log" 2>&1; then
    echo "fuzz: $target FAILED on a kept regression input; see $log"
    tail -n 30 "$log"
    failed=$((failed + 1))
    continue
  fi

  # -timeout: one input that runs for seconds is a hang; -rss_limit_mb
  # keeps a runaway allocation from taking the machine.
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix=build/fuzz/artifacts/"$target"/ \
      build/fuzz/corpus/"$target" fuzz/corpus/"$target" >>"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    echo "fuzz: $target passed: ${#kept[@]} regression inputs, ${runs:-?} inputs in ${seconds} s (${rate:-?}/s)"
    passed=$((passed + 1))
  else
    echo "fuzz: $target FAILED; see $log"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|fuzz check failed|artifact_prefix|Test unit written)' "$log" | head -n 20
    failed=$((failed + 1))
  fi
done

echo "fuzz: $passed passed, $failed failed"
((failed == 0))
