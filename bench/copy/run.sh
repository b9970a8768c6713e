#!/bin/sh
# The copy against pgdbf on generated dBase tables, whole processes, run alternately:
#
#   bench/copy/run.sh [BUILD_DIR] [RECORDS] [ROUNDS] [WORK_DIR]   (build, 1000000, 5, /tmp)
#
# For each table (ten fields; the same with a 200-byte memo per record) it times, ROUNDS times
# in turn: `datovrat-cli copy tables` into a new database, `pgdbf` (with -m for the memo
# file), `datovrat-cli source dump` to /dev/null, and `bench_copy_floor`, the value conversions
# a copy through the table components has to make and nothing else (floor: with the source
# read; conv: without it; +ins: conv with every record inserted by the storage engine
# directly). It prints the medians, the ratios to pgdbf, and the copy's peak
# resident memory (from /usr/bin/time -v).
set -eu
build=${1:-build}
records=${2:-1000000}
rounds=${3:-5}
work=${4:-/tmp}/datovrat-bench.$$
cli=$build/src/cli/datovrat-cli
gen=$build/bench/copy/bench_copy_tables
floor_bin=$build/bench/copy/bench_copy_floor
for tool in pgdbf /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "run.sh: $tool is needed (apt-get install pgdbf time)" >&2; exit 1; }
done
[ -x "$cli" ] && [ -x "$gen" ] && [ -x "$floor_bin" ] || { echo "run.sh: build first ($cli, $gen, $floor_bin)" >&2; exit 1; }
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# Seconds of wall time of a command; its peak resident kilobytes into $work/peak.
timed() {
  /usr/bin/time -v -o "$work/time" "$@" > /dev/null 2> "$work/err" || {
    echo "run.sh: failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  awk -F': ' '/Maximum resident/ { print $2 > "'"$work/peak"'" }
              /Elapsed \(wall clock\)/ { n = split($2, p, ":"); s = 0
                for (i = 1; i <= n; ++i) s = s * 60 + p[i]; print s }' "$work/time"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

printf '%-7s %9s %9s %9s %9s %9s %10s %9s %9s %9s\n' table copy pgdbf dump copy/pg dump/pg "copy peak" floor/pg conv/pg +ins/pg
for kind in plain memo; do
  table=$work/BENCH_$kind.dbf
  "$gen" --generate "$table" "$records" "$kind"
  memo_args=""
  [ "$kind" = memo ] && memo_args="-m ${table%.dbf}.dbt"
  : > "$work/copy"; : > "$work/pg"; : > "$work/dump"; : > "$work/peaks"
  : > "$work/floor"; : > "$work/conv"; : > "$work/ins"
  i=0
  while [ "$i" -lt "$rounds" ]; do
    rm -f "$work/out.mdb"
    timed "$cli" copy tables "$work/out.mdb" "$table" --quiet >> "$work/copy"
    cat "$work/peak" >> "$work/peaks"
    # shellcheck disable=SC2086
    timed pgdbf $memo_args "$table" >> "$work/pg"
    timed "$cli" source dump "$table" >> "$work/dump"
    # The floor: the value conversions of the components alone; `conv` leaves out the source
    # read, which a second core could take.
    "$floor_bin" "$table" | awk -v f="$work/floor" -v c="$work/conv" -v n="$work/ins" '{
      for (i = 1; i <= NF; ++i) {
        if ($i == "values") r = $(i + 1); if ($i == "floor") t = $(i + 1); if ($i == "inserts") e = $(i + 1)
      }
      print t >> f; print t - r >> c; print e - r >> n }'
    i=$((i + 1))
  done
  copy=$(median < "$work/copy"); pg=$(median < "$work/pg"); dump=$(median < "$work/dump")
  floor=$(median < "$work/floor"); conv=$(median < "$work/conv"); ins=$(median < "$work/ins")
  peak=$(sort -n "$work/peaks" | tail -1)
  awk -v k="$kind" -v c="$copy" -v p="$pg" -v d="$dump" -v m="$peak" -v f="$floor" -v v="$conv" -v e="$ins" 'BEGIN {
    printf "%-7s %8.2fs %8.2fs %8.2fs %9.2f %9.2f %7.0f MB %9.2f %9.2f %9.2f\n", k, c, p, d, c / p,
      d / p, m / 1024, f / p, v / p, e / p }'
  rm -f "$table" "${table%.dbf}.dbt" "$work/out.mdb"
done
