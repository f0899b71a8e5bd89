#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: unit, end to end
# against the real runtime, and a short run of each fuzz target over its corpus.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${NIMBREL_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
"$root/scripts/build.sh"
ctest --test-dir "$build_dir" --output-on-failure -j "${NIMBREL_JOBS:-$(nproc)}" --timeout 600

if [[ -x "$root/scripts/fuzz.sh" ]]; then
  "$root/scripts/fuzz.sh" "${NIMBREL_FUZZ_SECONDS:-30}"
fi
