#!/bin/bash
# By hand, not in CI: copies a 2,000,000-record dBase table with memos into a copy of an
# Access-made database with the real command line, kills it with SIGKILL at 30 moments
# spread over the run, and checks what each kill leaves:
#   - whether a journal was left (hot) and whether mdbtools read the pre-existing tables
#     as before even then, before anything of ours touched the file;
#   - after `mdb recover`: `mdb check` clean, mdbtools and mdb-reader read every table,
#     the pre-existing tables export exactly as before, the copied table holds 0..N rows;
#   - the copy run again succeeds and leaves a clean file with every record.
# Usage: tests/crash/kill_copy.sh [BUILD_DIR] (env: ROWS=2000000 KILLS=30 RERUN=1)
set -u
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
cli=$build/src/cli/datovrat-cli
corpus=$root/tests/data/jet/access/test2V2000.mdb
rows=${ROWS:-2000000}
kills=${KILLS:-30}
rerun=${RERUN:-1}
reader="node $root/tests/oracles/mdb_reader_dump.mjs"
work=$(mktemp -d /tmp/kill_copy.XXXXXX)
trap 'rm -rf "$work"' EXIT

python3 "$here/make_dbf.py" "$work/BIG.DBF" "$rows" || exit 1
cp "$corpus" "$work/base.mdb"
mapfile -t before_tables < <(mdb-tables -1 "$work/base.mdb")
for t in "${before_tables[@]}"; do mdb-export -b hex "$work/base.mdb" "$t" > "$work/before.$t.csv"; done

export_matches() {  # file -> 0 when every pre-existing table exports as before
  local t
  for t in "${before_tables[@]}"; do
    mdb-export -b hex "$1" "$t" 2>/dev/null | cmp -s - "$work/before.$t.csv" || return 1
  done
}

# The kill moments follow a timed run; the shorter of two, since the first also reads the
# source into the system's cache and the kill runs find it there.
total_ms=0
for attempt in 1 2; do
  cp "$work/base.mdb" "$work/timing.mdb"
  start=$(date +%s%N)
  "$cli" copy tables "$work/timing.mdb" "$work/BIG.DBF" --quiet || { echo "the copy itself fails"; exit 1; }
  ms=$((($(date +%s%N) - start) / 1000000))
  if [ "$total_ms" = 0 ] || [ "$ms" -lt "$total_ms" ]; then total_ms=$ms; fi
  rm -f "$work/timing.mdb"
done
echo "a full copy of $rows records takes $total_ms ms"

failures=0 hot=0 foreign_ok=0
for i in $(seq 1 "$kills"); do
  dest=$work/dest.mdb
  rm -f "$dest" "$dest-journal" "$work/dest.ldb"
  cp "$work/base.mdb" "$dest"
  at_ms=$((total_ms * i / (kills + 1)))
  "$cli" copy tables "$dest" "$work/BIG.DBF" --quiet 2>/dev/null &
  pid=$!
  sleep "$(printf '%d.%03d' $((at_ms / 1000)) $((at_ms % 1000)))"
  if kill -9 "$pid" 2>/dev/null; then line="kill $i at ${at_ms} ms:"; else line="kill $i at ${at_ms} ms (the copy had ended):"; fi
  wait "$pid" 2>/dev/null
  if [ -e "$dest-journal" ]; then hot=$((hot + 1)); line+=" journal left;"; fi
  if export_matches "$dest"; then foreign_ok=$((foreign_ok + 1)); line+=" mdbtools reads the old tables before recovery;"; fi
  "$cli" mdb recover "$dest" > /dev/null || { line+=" RECOVER FAILED"; failures=$((failures + 1)); }
  if ! "$cli" mdb check "$dest" > "$work/check.txt"; then
    line+=" CHECK: $(head -n 3 "$work/check.txt" | tr '\n' ' ')"
    failures=$((failures + 1))
  fi
  export_matches "$dest" || { line+=" PRE-EXISTING TABLES CHANGED"; failures=$((failures + 1)); }
  while read -r t; do
    mdb-export "$dest" "$t" > /dev/null 2>&1 || { line+=" mdbtools cannot read $t"; failures=$((failures + 1)); }
  done < <(mdb-tables -1 "$dest")
  $reader "$dest" > /dev/null 2>&1 || { line+=" mdb-reader cannot read the file"; failures=$((failures + 1)); }
  copied=$(mdb-count "$dest" BIG 2>/dev/null | sed "s/$/ records/" || true); [ -n "$copied" ] || copied=absent
  line+=" BIG: $copied;"
  if [ "$rerun" = 1 ]; then
    if "$cli" copy tables "$dest" "$work/BIG.DBF" --quiet > /dev/null 2>&1 &&
       "$cli" mdb check "$dest" > /dev/null && [ "$(mdb-count "$dest" BIG)" = "$rows" ]; then
      line+=" re-run ok"
    else
      line+=" RE-RUN FAILED"; failures=$((failures + 1))
    fi
  fi
  echo "$line"
done
echo "$kills kills: $hot left a journal, $foreign_ok read as before in mdbtools before recovery, $failures failures"
[ "$failures" = 0 ]
