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

# An Access database made from nothing, a sample CSV imported into it and exported back.
rm -f "$out/demo.mdb"
"$cli" mdb create "$out/demo.mdb"
"$cli" mdb import "$out/demo.mdb" People \
  "ID COUNTER, NAME TEXT(50) NOT NULL, PRICE CURRENCY, BORN DATETIME, PHOTO LONGBINARY, NOTE MEMO" \
  < "$top/tests/data/jet/sample-people.csv"
"$cli" mdb tables "$out/demo.mdb"
"$cli" mdb schema "$out/demo.mdb" People
"$cli" mdb export "$out/demo.mdb" People
"$cli" mdb export "$out/demo.mdb" People --json
"$cli" mdb check "$out/demo.mdb"
