#!/usr/bin/env bash
# The program's main job on the bundled sample data: dBase, FoxPro and Paradox tables (Czech
# text in three code pages, memos, blobs) copied into a new Access database, then read back by
# our own reader and by mdbtools.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$top/$build" ;; esac
cli="$build/src/cli/datovrat-cli"
out="$top/demo-out"
data="$top/tests/data/bde"
mkdir -p "$out"
if [ ! -x "$cli" ]; then
  echo "demo: datovrat-cli has not been built yet"; exit 1
fi

db="$out/demo.mdb"
rm -f "$db"
echo "== copying sample source tables into $db"
"$cli" copy tables "$db" \
  "$data/synthetic/czech852.dbf" "$data/synthetic/czech1250.db" "$data/synthetic/kamenicky_fox.dbf" \
  "$data/synthetic/types4.dbf" "$data/foxpro/infused-dbf/dbase_30.dbf" \
  "$data/paradox/paradoxdriver/db/CUSTOMER.DB" "$data/paradox/paradoxdriver/db/ORDERS.DB"

echo "== tables"
"$cli" mdb tables "$db"
echo "== schema of czech852"
"$cli" mdb schema "$db" czech852
echo "== czech852 as our reader exports it"
"$cli" mdb export "$db" czech852
echo "== kamenicky_fox as mdbtools reads it"
mdb-export "$db" kamenicky_fox
echo "== first orders, as JSON"
"$cli" mdb export "$db" ORDERS --json | sed -n '1,3p'
echo "== a query"
"$cli" mdb query "$db" "SELECT TOP 3 * FROM CUSTOMER ORDER BY 1 DESC" || true
echo "== check"
"$cli" mdb check "$db"
