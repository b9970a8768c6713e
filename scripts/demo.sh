#!/usr/bin/env bash
# The program's main job on the bundled sample data, as far as the layers built so far go.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
cli="$build/src/cli/datovrat-cli"
out="$top/demo-out"
mkdir -p "$out"
if [ ! -x "$cli" ]; then
  echo "demo: datovrat-cli has not been built yet"; exit 1
fi
"$cli" --help
