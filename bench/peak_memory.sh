#!/usr/bin/env bash
# Peak memory of `talveron -q` on inputs that could make a careless harvester
# grow: a 2 GB page holding one address that never closes (its bytes are 0
# bytes after the address's start, as a sparse file gives them), and the same
# with printable bytes. Prints one line per input: seconds and peak RSS.
#
#   bench/peak_memory.sh [build/talveron]
set -euo pipefail
host=$(realpath "${1:-build/talveron}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

printf '<a href="http://never.closes/' > zeros.html
truncate -s 2G zeros.html

printf '<a href="http://never.closes/' > letters.html
head -c $((2 * 1024 * 1024 * 1024 - 29)) /dev/zero | tr '\0' 'x' >> letters.html

for page in zeros.html letters.html; do
  /usr/bin/time -f "$page: %e s, peak %M KB" "$host" -q "$page" > /dev/null
done
