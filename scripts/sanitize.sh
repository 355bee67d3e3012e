#!/usr/bin/env bash
# Builds Orvantis with a sanitizer and runs the test suite under it.
#   scripts/sanitize.sh asan [ctest -R regex]   AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/sanitize.sh tsan [ctest -R regex]   ThreadSanitizer (build-tsan/)
# Without a regex the whole suite runs.
#
# ThreadSanitizer prints its reports and goes on, and a report in the program
# started by an integration test ends up only in that test's scratch log. So
# every process writes its reports into one folder here, and the run fails
# when any process wrote one, whatever the tests themselves concluded.
# (tests/sanitizers/tsan_defaults.cpp silences what the uninstrumented
# desktop libraries cause; anything left is the program's own.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
kind=${1:-asan}
select=${2:-}
case "$kind" in
  asan) option=-DORVANTIS_ASAN=ON ;;
  tsan) option=-DORVANTIS_TSAN=ON ;;
  *) echo "usage: $0 asan|tsan [ctest regex]" >&2; exit 2 ;;
esac
"$root/scripts/install-deps.sh" test
build=$root/build-$kind
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$option" -DORVANTIS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
reports=$build/tsan-reports
if [ "$kind" = tsan ]; then
  rm -rf "$reports"
  mkdir -p "$reports"
  export TSAN_OPTIONS="log_path=$reports/report ${TSAN_OPTIONS:-}"
fi
status=0
ctest --output-on-failure --timeout 600 -j"$(nproc)" ${select:+-R "$select"} || status=$?
if [ "$kind" = tsan ] && [ -n "$(ls -A "$reports")" ]; then
  for report in "$reports"/*; do
    echo "=== ThreadSanitizer report of process ${report##*.}"
    cat "$report"
  done
  echo "ThreadSanitizer reported in $(ls "$reports" | wc -l) processes (see above)" >&2
  status=1
fi
exit "$status"
