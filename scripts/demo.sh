#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, then runs the sample
# application twice, plainly and under the profiler, and prints what was observed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${NIMBREL_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

library="$build_dir/src/NimbrelProfiler.so"
app="$build_dir/managed/SmokeApp/SmokeApp.dll"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

echo "== without the profiler"
dotnet "$app" 0 || true

echo "== with the profiler ($library)"
CORECLR_ENABLE_PROFILING=1 \
CORECLR_PROFILER='{5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}' \
CORECLR_PROFILER_PATH="$library" \
NIMBREL_TEST_REPORT="$work/report.txt" \
NIMBREL_TEST_LIBRARY="$library" \
  dotnet "$app" 0 || true

echo "== what the app saw of the profiler"
cat "$work/report.txt"
