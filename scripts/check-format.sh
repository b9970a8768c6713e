#!/usr/bin/env bash
# Checks that every C++ file under version control is laid out as .clang-format says
# (clang-format 14, Debian's). With --fix, rewrites the files that are not.
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(command -v clang-format-14 || command -v clang-format || true)
[ -n "$tool" ] || { echo "check-format: clang-format is not installed" >&2; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  "$tool" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$tool" --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "check-format: not laid out as .clang-format says (scripts/check-format.sh --fix):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "check-format: ${#files[@]} files laid out as .clang-format says"
