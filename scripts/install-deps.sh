#!/usr/bin/env bash
# Installs what the build and the tests need, and nothing that is already there.
# Debian packages are listed per layer in deps/apt/*.txt; npm packages for the test
# oracles in tests/oracles/package.json.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

want=$(cat "$top"/deps/apt/*.txt 2>/dev/null | sed 's/#.*//' | tr -s ' \t' '\n' | sed '/^$/d' | sort -u)
missing=()
for p in $want; do
  # Node.js may come from outside Debian (with its own npm, which Debian's npm package
  # conflicts with): a working command is as good as the package.
  case "$p" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    npm) command -v npm >/dev/null 2>&1 && continue ;;
  esac
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  if ! $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"; then
    $sudo_cmd apt-get update
    $sudo_cmd apt-get install -y --no-install-recommends "${missing[@]}"
  fi
fi

if [ -f "$top/tests/oracles/package.json" ]; then
  if [ ! -d "$top/tests/oracles/node_modules/mdb-reader" ]; then
    echo "install-deps: npm packages for the test oracles"
    (cd "$top/tests/oracles" && npm install --no-audit --no-fund --loglevel=error)
  fi
fi
