#!/bin/bash
# Runs the sample cases of runner_samples (samples/) through the test runner
# with the properties of every GoogleTest case, and checks that CTest gives
# each the outcome its name starts with: passes, skipped or fails.
#   check_outcomes.sh SOURCE_DIR WINE_RUN PROGRAM WORK_DIR
set -u
src=$1 wine_run=$2 program=$3 work=$4
cmake -S "$src/tests/runner/samples" -B "$work" -DSOURCE_DIR="$src" \
      -DWINE_RUN="$wine_run" -DPROGRAM="$program" >/dev/null || exit 1
output=$(ctest --test-dir "$work" -j4 --output-on-failure 2>&1)

# CTest's result lines: "1/9 Test #5: fails.Crash.Abort ......***Failed  0.40 sec"
status=0 checked=0
while read -r name result; do
  case $result in
    Passed) outcome=passes ;;
    Skipped) outcome=skipped ;;
    *) outcome=fails ;;
  esac
  checked=$((checked + 1))
  if [ "$outcome" = "${name%%.*}" ]; then
    echo "ok   $name: $result"
  else
    echo "FAIL $name: $result"
    status=1
  fi
done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ +Test +#[0-9]+: ([^ ]+) \.*[ *]*([A-Za-z]+).*/\1 \2/p' <<<"$output")

expected=$(ctest --test-dir "$work" -N | sed -n 's/^Total Tests: //p')
if [ "$status" != 0 ] || [ "$checked" != "$expected" ]; then
  echo "$checked of $expected samples checked; CTest's output:"
  echo "$output"
  exit 1
fi
