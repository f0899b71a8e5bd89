#!/usr/bin/env bash
# Whole-process benchmarks of the JIT-time instrumentation (results go in
# docs/benchmarks.md):
#   1. cost per call of a wrapped method, with an agent that records nothing, against
#      the same body unwrapped and against a hand-written C# wrapper making the same
#      agent calls;
#   2. start-up of an app JIT-compiling about 20,000 distinct methods, with and
#      without the profiler (hyperfine).
# Usage: bench/instrumentation_bench.sh [build dir]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
managed="$build/managed"
library="$build/src/NimbrelProfiler.so"
profiler=(env CORECLR_ENABLE_PROFILING=1 "CORECLR_PROFILER={5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}"
          "CORECLR_PROFILER_PATH=$library")
export DOTNET_NOLOGO=1 DOTNET_CLI_TELEMETRY_OPTOUT=1
unset NIMBREL_AGENT_RECORD NIMBREL_CONFIG NIMBREL_HOME_APM_DOTNET

echo "== cost per call (5,000,000 calls after warm-up; best of 3)"
best() {  # best ns/call of three runs of the given command
  local b=""
  for _ in 1 2 3; do
    local v
    v=$("$@" | sed -n 's/.* ns\/call: \([0-9.]*\).*/\1/p')
    if [[ -z "$b" ]] || awk "BEGIN{exit !($v < $b)}"; then b=$v; fi
  done
  echo "$b"
}
plain=$(best dotnet "$managed/CallCostBench/CallCostBench.dll" target)
wrapped=$(best "${profiler[@]}" dotnet "$managed/CallCostBench/CallCostBench.dll" target)
handwritten=$(best dotnet "$managed/CallCostBench/CallCostBench.dll" handwritten)
echo "uninstrumented:       $plain ns/call"
echo "rewritten IL:         $wrapped ns/call"
echo "hand-written wrapper: $handwritten ns/call"
awk -v w="$wrapped" -v h="$handwritten" -v p="$plain" \
  'BEGIN { printf "rewritten / hand-written = %.2f   rewritten / uninstrumented = %.1f\n", w / h, w / p }'

echo "== start-up, about 20,000 JIT-compiled methods"
hyperfine --warmup 2 --runs 10 --export-markdown "$build/startup_bench.md" \
  -n "without profiler" "dotnet $managed/ManyMethodsApp/ManyMethodsApp.dll" \
  -n "with profiler" "${profiler[*]} dotnet $managed/ManyMethodsApp/ManyMethodsApp.dll"
