#!/usr/bin/env bash
# Configures and builds the library, the managed projects and the tests into build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${NIMBREL_BUILD_DIR:-$root/build}"
jobs="${NIMBREL_JOBS:-$(nproc)}"

cmake -S "$root" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$build_dir" -j "$jobs"
