#!/usr/bin/env bash
# The project's entry points:
#   ./dr.sh demo   build the host, then fail the sample VM group over and
#                  back, and the storage-array group over and undo it
#   ./dr.sh test   build, run the whole suite (g++), again under
#                  AddressSanitizer + UndefinedBehaviorSanitizer with a
#                  bounded run of the fuzz targets, and the concurrency tests
#                  under ThreadSanitizer (both clang, which also checks the
#                  lock rules at compile time: -Wthread-safety, errors)
#   ./dr.sh stress the concurrency and e2e tests, the random crash sampler,
#                  the kill table (every DR type killed at each crash-matrix
#                  moment, then its printed next steps run as printed) and
#                  the live-kill sampler (every DR type stopped by control
#                  kill, SIGINT, a suspend then a kill, or a kill point, at
#                  random moments, its printed next steps followed, a mode
#                  none of whose stops stopped a job failing) and the walk
#                  over the DR types (random walks of types of one group,
#                  stopped, crashed or run through, each job judged by
#                  docs/engine.md's table) under AddressSanitizer, five times
#                  over, on a machine kept busy
# Each installs what is missing first (Debian 12, as root or with sudo).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=$(nproc 2>/dev/null || echo 2)
# ccache: the test suite's precompiled header hides nothing it needs to see,
# and a second checkout of the tree on this machine finds the first's objects.
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
export CCACHE_BASEDIR="$ROOT" CCACHE_NOHASHDIR=1
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
  local t0=$SECONDS t1
  if ! cmake -S "$ROOT" -B "$dir" "$@" >"$log" 2>&1; then
    tail -n 60 "$log"
    say "configuring $dir failed (full log: $log)"
    exit 1
  fi
  t1=$SECONDS
  if ! cmake --build "$dir" -j"$JOBS" ${BUILD_TARGET:+--target "$BUILD_TARGET"} >>"$log" 2>&1; then
    tail -n 60 "$log"
    say "build of $dir failed (full log: $log)"
    exit 1
  fi
  say "$dir: configured in $((t1 - t0)) s, built in $((SECONDS - t1)) s"
}

PASSED=0
FAILED=0
# run_ctest <dir> [ctest options...]: runs ctest, adds its counts to the totals.
# Twice as many tests at once as there are cores: most of an end-to-end
# test's time is spent waiting on its drjob processes, and the stress run
# shows the suite holds at that load on a busy machine.
run_ctest() {
  local dir=$1; shift
  local out="$ROOT/$dir.ctest.log"
  local rc=0 t0=$SECONDS
  (cd "$dir" && ctest --output-on-failure -j"${CTEST_JOBS:-$((2 * JOBS))}" --timeout 900 "$@") 2>&1 | tee "$out" || rc=$?
  say "$dir: tests ran in $((SECONDS - t0)) s"
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

# g++, optimised as the library ships, with line tables only (-g1): stack
# traces keep their files and lines, at a fraction of full debug
# information's compile time.
build_release() {
  build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
    "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" -DDR_STRESS_TESTS=OFF
}

# One DR job on the sample VM group: its summary report and the lab after
# it; its exit code.
demo_vm_job() {
  local run="$1" type="$2" rc=0 from=1
  [ -f "$run/drorch.log" ] && from=$(($(wc -l <"$run/drorch.log") + 1))
  "${drjob[@]}" run --db "$run/lab.db" --group Sample --type "$type" || rc=$?
  if ! tail -n "+$from" "$run/drorch.log" | grep "JOB SUMMARY REPORT DR OPERATION" >/dev/null; then
    say "the $type ended with exit code $rc before its summary (see above and $run/drorch.log)"
    return 1
  fi
  tail -n "+$from" "$run/drorch.log" | sed -n '/JOB SUMMARY REPORT DR OPERATION/,/(): =*$/p' | sed 's/^.*(): //'
  "${drjob[@]}" lab show --db "$run/lab.db" || rc=$?
  if [ "$rc" -ne 0 ]; then
    say "the $type of the sample group ended with exit code $rc (see above and $run/drorch.log)"
    return "$rc"
  fi
  say "the $type of the sample group finished successfully; the job's log is $run/drorch.log"
}

cmd_demo() {
  ensure_packages
  # Only what the demo runs: the host brings both libraries and the
  # completion notifier; a later ./dr.sh test reuses these objects.
  BUILD_TARGET=drjob build_release
  local run="$ROOT/run/demo"
  rm -rf "$run"
  mkdir -p "$run"
  say "running the demo in $run (time scaled 1/1000)"
  local drjob=(env DR_RUN_DIR="$run" DR_TIME_SCALE=0.001 DR_LOCK_DIR="$run/locks" "$ROOT/build/release/drjob")
  # Seed a fresh lab, then a planned failover of its sample group, a write
  # in one of its DR VMs and the failback that brings that write home; show
  # each job's summary and what the lab holds after it.
  if ! "${drjob[@]}" seed --db "$run/lab.db"; then
    say "seeding the sample lab failed; no DR job was run"
    return 1
  fi
  demo_vm_job "$run" planned-failover || return $?
  "${drjob[@]}" lab write db-primary-DR --db "$run/lab.db" || return $?
  demo_vm_job "$run" failback || return $?
  # The storage-array group of the same lab: a planned failover, then its
  # undo, each followed by the relationships, LUNs and afiles (mounts) the
  # arrays hold after it, the replications' statuses and the subclients'
  # activity.
  local type
  for type in planned-failover undo-failover; do
    rc=0
    "${drjob[@]}" run --db "$run/lab.db" --group SampleArray --type "$type" || rc=$?
    "${drjob[@]}" lab --db "$run/lab.db" | sed -n '/^relationships:$/,/^array calls:$/p' | sed '$d'
    if [ "$rc" -ne 0 ]; then
      say "the $type of the storage-array group ended with exit code $rc (see above and $run/drorch.log)"
      return "$rc"
    fi
    say "the $type of the storage-array group finished successfully"
  done
}

# Line tables only in the clang trees: a sanitizer's report keeps each
# frame's file and line, and the compiler writes a fraction of the debug
# information.
CLANG_DEBUG_FLAGS=(-DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only)

# clang, with the lock rules checked as in build/tsan, and the fuzz targets,
# which share its objects (the libraries carry the fuzzer's coverage
# instrumentation here). STRESS_TESTS=ON adds the stress run's suites.
build_asan() {
  CC=clang CXX=clang++ build build/asan -DCMAKE_BUILD_TYPE=Debug "${CLANG_DEBUG_FLAGS[@]}" \
    "-DDR_SANITIZE=address;undefined" -DDR_BUILD_BENCH=OFF -DDR_BUILD_FUZZ=ON -DDR_STRESS_TESTS="${STRESS_TESTS:-OFF}"
}

run_asan_ctest() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "$@"
}

print_total() {
  echo
  echo "total: ${PASSED} passed, ${FAILED} failed"
  [ "$FAILED" -eq 0 ]
}

cmd_test() {
  ensure_packages
  build_release
  # The crash sampler, the kill table, the live-kill sampler and the walk
  # over the DR types (label "stress") are built and run in ./dr.sh stress
  # only; the type matrix (label "e2e") runs here, in both trees.
  # The optimised tree's tests wait more than they compute: at twice as many
  # as there are cores they leave a third of the cores idle, at three times
  # they fill them. The sanitizer trees' tests keep the cores busy at twice.
  CTEST_JOBS=$((3 * JOBS)) run_ctest build/release -LE stress
  build_asan
  # The whole suite and a bounded run of each fuzz target (label "fuzz").
  run_asan_ctest build/asan -LE stress
  # clang here: besides ThreadSanitizer, the libraries are compiled with the
  # lock rules checked (build/asan checks them over every test file too), and
  # a guarded member touched without its lock fails the build. Only the test
  # files with concurrency suites are built. The concurrency label includes
  # the test that a rule broken on purpose still fails to compile.
  CC=clang CXX=clang++ \
    build build/tsan -DCMAKE_BUILD_TYPE=Debug "${CLANG_DEBUG_FLAGS[@]}" -DDR_SANITIZE=thread -DDR_BUILD_BENCH=OFF \
    -DDR_THREAD_SAFETY=ON -DDR_TESTS_CONCURRENCY_ONLY=ON
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    run_ctest build/tsan -L concurrency
  if ! grep -q 'LockRules\.UnguardedAccessDoesNotCompile' "$ROOT/build/tsan.ctest.log"; then
    say "the lock rules were not checked in build/tsan (LockRules.UnguardedAccessDoesNotCompile did not run)"
    FAILED=$((FAILED + 1))
  fi
  print_total
}

# Busy loops, one per core, for the stress run. Each also ends by itself
# once this script is gone, so not even a SIGKILL of dr.sh leaves one behind.
BUSY_PIDS=()
start_busy_loops() {
  local i parent=$$
  for ((i = 0; i < JOBS; i++)); do
    (
      trap - EXIT INT TERM
      while kill -0 "$parent" 2>/dev/null; do
        for ((n = 0; n < 200000; n++)); do :; done
      done
    ) &
    BUSY_PIDS+=($!)
  done
}

stop_busy_loops() {
  [ ${#BUSY_PIDS[@]} -gt 0 ] || return 0
  kill "${BUSY_PIDS[@]}" 2>/dev/null || true
  wait "${BUSY_PIDS[@]}" 2>/dev/null || true
  BUSY_PIDS=()
}

# The suites where threads and processes meet, five times over, twice as
# many at once as there are cores, while every core is kept busy: a test
# that only passes on a quiet machine fails here.
cmd_stress() {
  ensure_packages
  STRESS_TESTS=ON build_asan
  local t0=$SECONDS
  trap stop_busy_loops EXIT
  trap 'stop_busy_loops; exit 130' INT TERM
  start_busy_loops
  say "running the concurrency and e2e tests, the crash sampler, the kill table, the live-kill sampler and the walk over the DR types 5 times over, $((2 * JOBS)) at a time, beside $JOBS busy loops"
  CTEST_JOBS=$((2 * JOBS)) run_asan_ctest build/asan -L 'concurrency|e2e|stress' --repeat until-fail:5
  stop_busy_loops
  trap - EXIT INT TERM
  say "stress run took $((SECONDS - t0)) s"
  print_total
}

case "${1:-}" in
  demo) cmd_demo ;;
  test) cmd_test ;;
  stress) cmd_stress ;;
  *)
    cat >&2 <<'USAGE'
usage: ./dr.sh demo | test | stress
  demo    fail the sample groups over and back with the host program
  test    the whole suite, optimised, under AddressSanitizer with the fuzz
          targets, and the concurrency tests under ThreadSanitizer
  stress  the concurrency and e2e tests, the random crash sampler, the kill
          table, the live-kill sampler and the walk over the DR types
          (label stress), under AddressSanitizer, five times over beside
          busy loops
USAGE
    exit 2
    ;;
esac
