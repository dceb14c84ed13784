#!/usr/bin/env bash
# Peak memory (and time) of `talveron --no-progress --output=FILE` on inputs that could make a
# careless harvester grow or stall: a 2 GB page holding one address that never
# closes (printable bytes, and 0 bytes as a sparse file gives them), a 2 GB
# page of '<' bytes, and a page of one million anchors. The records are
# counted in FILE.
#
#   bench/peak_memory.sh [build/talveron]
set -euo pipefail
host=$(realpath "${1:-build/talveron}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
GB=$((1024 * 1024 * 1024))

printf '<a href="http://never.closes/' > never-letters.html
head -c $((2 * GB - 29)) /dev/zero | tr '\0' 'x' >> never-letters.html

printf '<a href="http://never.closes/' > never-zeros.html
truncate -s $((2 * GB)) never-zeros.html

head -c $((2 * GB)) /dev/zero | tr '\0' '<' > less-than.html

awk 'BEGIN { for (i = 0; i < 1000000; i++) printf "<a href=\"http://site%d.example.jp/page.html\">%d</a>\n", i, i }' > million.html

for page in never-letters.html never-zeros.html less-than.html million.html; do
  size=$(stat -c %s "$page")
  rm -f records.txt
  /usr/bin/time -f "$page ($((size / 1024 / 1024)) MB): %e s, peak %M KB" "$host" --no-progress --output=records.txt "$page" ||
    echo "  exit status $?"
  if [ -f records.txt ]; then echo "  records: $(wc -l < records.txt)"; else echo "  no output written"; fi
done
