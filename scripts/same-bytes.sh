#!/bin/sh
# Writes a set of databases with one build's tools at a frozen clock and lists their digests,
# so that two builds can be compared byte for byte (for changes that must not alter a file):
#
#   scripts/same-bytes.sh BUILD_DIR OUT_DIR
#   diff OLD_OUT/digests NEW_OUT/digests
#
# The set: generated plain and memo tables copied into new databases; every source table under
# tests/data/bde copied into a database of its own; new databases in three sort orders filled
# with `mdb import` and given indexes; and a copy of an Access-made database changed the same way.
# Needs faketime (Debian package faketime).
set -eu
build=$1
out=$2
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$(cd "$build" && pwd)/src/cli/datovrat-cli
gen=$(cd "$build" && pwd)/bench/copy/bench_copy_tables
command -v faketime > /dev/null || { echo "same-bytes.sh: faketime is needed" >&2; exit 1; }
rm -rf "$out"
mkdir -p "$out/src" "$out/db"
frozen() { faketime -f '2026-01-02 03:04:05' "$@"; }

# Generated tables, both shapes the copy benchmark uses.
for kind in plain memo; do
  "$gen" --generate "$out/src/GEN_$kind.dbf" 20000 "$kind" > /dev/null
  frozen "$cli" copy tables "$out/db/gen_$kind.mdb" "$out/src/GEN_$kind.dbf" --quiet \
    > "$out/db/gen_$kind.log" 2>&1 || echo "exit $?" >> "$out/db/gen_$kind.log"
done

# Every bundled source table, each into a database of its own; failures are part of the record.
find "$here/tests/data/bde" -type f \( -iname '*.dbf' -o -iname '*.db' \) | sort | while read -r f; do
  name=$(echo "${f#"$here"/tests/data/bde/}" | tr '/ ' '__')
  frozen "$cli" copy tables "$out/db/$name.mdb" "$f" --yes-to-all --quiet \
    > "$out/db/$name.log" 2>&1 || echo "exit $?" >> "$out/db/$name.log"
done

# New databases through import and index creation, in three sort orders.
people=$here/tests/data/jet/sample-people.csv
for order in General 1029 1045; do
  db=$out/db/import_$order.mdb
  {
    frozen "$cli" mdb create "$db" --sort-order "$order"
    frozen "$cli" mdb import "$db" PEOPLE \
      "ID COUNTER, NAME TEXT(50), PRICE CURRENCY, BORN DATETIME, PHOTO LONGBINARY, NOTE MEMO" < "$people"
    frozen "$cli" mdb index "$db" PEOPLE ByName "NAME, BORN DESC"
    frozen "$cli" mdb index "$db" PEOPLE PK "ID" --primary
  } > "$out/db/import_$order.log" 2>&1 || echo "exit $?" >> "$out/db/import_$order.log"
done

# An Access-made database changed in place.
db=$out/db/access_changed.mdb
cp "$here/tests/data/jet/access/test2V2000.mdb" "$db"
{
  frozen "$cli" copy tables "$db" "$out/src/GEN_plain.dbf" --quiet
  frozen "$cli" mdb import "$db" PEOPLE \
    "ID COUNTER, NAME TEXT(50), PRICE CURRENCY, BORN DATETIME, PHOTO LONGBINARY, NOTE MEMO" < "$people"
  frozen "$cli" mdb index "$db" PEOPLE ByName "NAME" --unique
} > "$out/db/access_changed.log" 2>&1 || echo "exit $?" >> "$out/db/access_changed.log"

# Logs name the output directory; keep them comparable between two output directories.
for log in "$out"/db/*.log; do sed -i -e "s|$out|OUT|g" -e "s|$here|SOURCE|g" "$log"; done
(cd "$out/db" && sha256sum -- * > ../digests)
echo "$(wc -l < "$out/digests") files; digests in $out/digests"
