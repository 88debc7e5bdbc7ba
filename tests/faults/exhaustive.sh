#!/usr/bin/env bash
# What ./test only samples: a kill, an EIO and an ENOSPC at every call of the
# injected-fault driver, and 20 rounds of each concurrent case.  exhaustive.sh [default|debug]
set -euo pipefail
cd "$(dirname "$0")/../.."
preset=${1:-default} build=build
[ "$preset" = debug ] && build=build-debug
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target addtarnvel-cli carrier_files faults_injected_test faults_tables_test
export ATV_PROGRAM_DIR="$PWD/$build/bin" ATV_FAULT_STRIDE=1 ATV_ROUNDS=20
"$build/tests/faults_injected_test" && "$build/tests/faults_tables_test" --gtest_filter='*Concurrent*'
