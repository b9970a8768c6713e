#!/usr/bin/env bash
# Writes tests/data/core/iconv_upper_halves.tsv: what glibc iconv decodes each byte 0x80-0xFF
# of every code page to ("-" where iconv calls the byte invalid). The encoding tests compare
# our own tables against this, so the expectations come from a different source than the
# tables themselves (which come from Python's codecs). Kamenicky and Mazovia are not in
# glibc and are checked by their published test vectors instead.
set -euo pipefail
out="$(cd "$(dirname "$0")/../data/core" && pwd)/iconv_upper_halves.tsv"
declare -A names=([10000]=MACINTOSH [10007]=MAC-CYRILLIC [10029]=MAC-CENTRALEUROPE)
{
  echo -e "# code_page\tbyte\tcode_point (glibc $(ldd --version | head -1 | awk '{print $NF}'))"
  for cp in 437 737 850 852 857 860 861 862 863 865 866 869 874 \
            1250 1251 1252 1253 1254 1255 1256 1257 10000 10007 10029; do
    name=${names[$cp]:-CP$cp}
    for b in $(seq 128 255); do
      hex=$(printf '%02X' "$b")
      if u=$(printf "\\x$hex" | iconv -f "$name" -t UTF-32BE 2>/dev/null | od -An -tx1 | tr -d ' \n'); then
        [ -n "$u" ] || u="-"
        [ "$u" = "-" ] || u=$(printf '%04X' "$((16#$u))")
      else
        u="-"
      fi
      echo -e "$cp\t$hex\t$u"
    done
  done
} >"$out"
echo "wrote $out"
