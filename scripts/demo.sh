#!/usr/bin/env bash
# The main job: installs what is missing, builds everything, installs the profiler the
# way a user does (the library, its agent.config and the sample agent in one home
# folder) and runs the demo application twice: alone, then under the profiler, where
# the agent prints one line per traced call.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${NIMBREL_BUILD_DIR:-$root/build}"

"$root/scripts/setup.sh"
"$root/scripts/build.sh"

app="$build_dir/managed/DemoApp/DemoApp.dll"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The installation:
#   nimbrel/linux-x64/NimbrelProfiler.so    the library the runtime loads
#   nimbrel/agent.config                     its configuration (the folder above the library)
#   nimbrel/netcoreapp3.1/tralo.managed.core.dll
#                                            the agent, which the profiler's loader finds
#                                            two levels above the library
home="$work/nimbrel"
mkdir -p "$home/linux-x64" "$home/netcoreapp3.1"
cp "$build_dir/src/NimbrelProfiler.so" "$home/linux-x64/"
cp "$build_dir/managed/DemoAgent/tralo.managed.core.dll" "$home/netcoreapp3.1/"
cat > "$home/agent.config" <<'EOF'
<?xml version="1.0"?>
<configuration>
  <appSettings>
    <!-- Set to Debug to have the profiler write its log to /var/tmp/nimbrel. -->
    <add key="LogLevel" value="None"/>
  </appSettings>
</configuration>
EOF

echo "== the demo app alone"
dotnet "$app"

echo
echo "== the demo app under the profiler"
CORECLR_ENABLE_PROFILING=1 \
CORECLR_PROFILER='{5E1A9C37-40B2-4F6D-9A81-2C7D3B6E0F54}' \
CORECLR_PROFILER_PATH_64="$home/linux-x64/NimbrelProfiler.so" \
  dotnet "$app"
