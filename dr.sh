#!/usr/bin/env bash
# The project's two entry points:
#   ./dr.sh demo   build, then run a DR job on the sample DR group
#   ./dr.sh test   build, run the whole suite, again under AddressSanitizer +
#                  UndefinedBehaviorSanitizer, a bounded run of the fuzz
#                  targets (clang), and the concurrency tests under
#                  ThreadSanitizer (clang, which also checks the lock rules
#                  at compile time: -Wthread-safety, errors)
# Both install what is missing first (Debian 12, as root or with sudo).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)
PACKAGES=(cmake make g++ clang libboost-dev libxerces-c-dev libsqlite3-dev sqlite3
          libgtest-dev libgmock-dev libbenchmark-dev ccache)

say() { printf 'dr.sh: %s\n' "$*"; }

ensure_packages() {
  local missing=() p
  for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { say "missing packages (${missing[*]}) and no root to install them"; exit 1; }
    sudo="sudo"
  fi
  say "installing ${missing[*]}"
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# build <dir> [cmake options...]: configure and build quietly; the log is
# shown when something fails. BUILD_TARGET, when set, builds only that target.
# A tree configured for another compiler than $CXX starts afresh.
build() {
  local dir=$1; shift
  local log="$ROOT/$dir.log"
  mkdir -p "$dir"
  if [ -n "${CXX:-}" ] && [ -f "$dir/CMakeCache.txt" ]; then
    local cached
    cached=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
    if [ "$cached" != "$(command -v "$CXX")" ]; then
      say "$dir was configured for ${cached:-another compiler}; configuring it for $CXX"
      rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
    fi
  fi
  say "building $dir"
  if ! { cmake -S "$ROOT" -B "$dir" "$@" && cmake --build "$dir" -j"$JOBS" ${BUILD_TARGET:+--target "$BUILD_TARGET"}; } >"$log" 2>&1; then
    tail -n 60 "$log"
    say "build of $dir failed (full log: $log)"
    exit 1
  fi
}

PASSED=0
FAILED=0
# run_ctest <dir> [ctest options...]: runs ctest, adds its counts to the totals.
run_ctest() {
  local dir=$1; shift
  local out="$ROOT/$dir.ctest.log"
  local rc=0
  (cd "$dir" && ctest --output-on-failure -j"$JOBS" --timeout 900 "$@") 2>&1 | tee "$out" || rc=$?
  local line total failed
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1 || true)
  if [ -z "$line" ]; then
    say "ctest in $dir reported no result"
    FAILED=$((FAILED + 1))
    return
  fi
  failed=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* failed out of ([0-9]+).*/\1/' <<<"$line")
  PASSED=$((PASSED + total - failed))
  FAILED=$((FAILED + failed))
  [ "$rc" -eq 0 ] || [ "$failed" -gt 0 ] || FAILED=$((FAILED + 1))
}

cmd_demo() {
  ensure_packages
  build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
  local run="$ROOT/run/demo"
  rm -rf "$run"
  mkdir -p "$run"
  say "running the demo in $run (time scaled 1/1000)"
  local drjob=(env DR_RUN_DIR="$run" DR_TIME_SCALE=0.001 DR_LOCK_DIR="$run/locks" "$ROOT/build/release/drjob")
  # Seed a fresh lab, then a planned failover of its sample group. The run
  # ends where the system really ends today and the demo says so; it never
  # reports a failover it did not do.
  if ! "${drjob[@]}" seed --db "$run/lab.db"; then
    say "seeding the sample lab failed; no DR job was run"
    return 1
  fi
  local rc=0
  "${drjob[@]}" run --db "$run/lab.db" --group Sample --type planned-failover || rc=$?
  case $rc in
    0) say "the planned failover of the sample group finished successfully" ;;
    1)
      if ! grep -q "JOB SUMMARY REPORT DR OPERATION" "$run/drorch.log"; then
        say "the DR job failed before its summary (see above and $run/drorch.log)"
        return "$rc"
      fi
      say "expected at this stage: the DR job built its priority queue from the sample group, ran every"
      say "priority and ended FAILED with its summary report, because the VM operations are not built yet;"
      say "no failover was done. The job's log is $run/drorch.log" ;;
    *)
      say "the DR job ended with exit code $rc (see above and $run/drorch.log)"
      return "$rc" ;;
  esac
}

cmd_test() {
  ensure_packages
  build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
  run_ctest build/release
  build build/asan -DCMAKE_BUILD_TYPE=Debug "-DDR_SANITIZE=address;undefined" -DDR_BUILD_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest build/asan -LE fuzz
  CC=clang CXX=clang++ BUILD_TARGET=dr_fuzz \
    build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDR_BUILD_FUZZ=ON -DDR_BUILD_BENCH=OFF
  run_ctest build/fuzz -L fuzz
  # clang here: besides ThreadSanitizer, the whole tree is compiled with the
  # lock rules checked, and a guarded member touched without its lock fails
  # the build. The concurrency label includes the test that a rule broken on
  # purpose still fails to compile.
  CC=clang CXX=clang++ \
    build build/tsan -DCMAKE_BUILD_TYPE=Debug -DDR_SANITIZE=thread -DDR_BUILD_BENCH=OFF -DDR_THREAD_SAFETY=ON
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build/tsan -L concurrency
  if ! grep -q 'LockRules\.UnguardedAccessDoesNotCompile' "$ROOT/build/tsan.ctest.log"; then
    say "the lock rules were not checked in build/tsan (LockRules.UnguardedAccessDoesNotCompile did not run)"
    FAILED=$((FAILED + 1))
  fi
  echo
  echo "total: ${PASSED} passed, ${FAILED} failed"
  [ "$FAILED" -eq 0 ]
}

case "${1:-}" in
  demo) cmd_demo ;;
  test) cmd_test ;;
  *) echo "usage: ./dr.sh demo | test" >&2; exit 2 ;;
esac
