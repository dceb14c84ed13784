#!/usr/bin/env bash
# The benchmark, from a fresh clone: installs its peers (html-xml-utils for
# hxwls), builds, writes the corpora (about 2.7 GB, under build/bench-corpus)
# and prints the table of bench/compare.py, then that of the command line
# beside -j1, ripgrep, grep and wc -l (bench/cli_compare.py), then two
# library searches at once against in turn (bench/harvest_threads).
#
#   bench/run.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh bench
cmake -S . -B build -DTALVERON_BENCH=ON > /dev/null && cmake --build build -j2 > /dev/null

corpus=build/bench-corpus
mkdir -p "$corpus"
make=build/bench/make_corpus
MB=$((1024 * 1024))
if [ ! -s "$corpus/real.html" ]; then
  # Real pages: the HTML documentation installed on the machine, and the
  # pages of TALVERON_PAGES_DIR when it is set, in a fixed order. Folders
  # that are missing are passed over.
  { find /usr/share/doc /usr/share/gtk-doc "$HOME"/.rustup/toolchains/*/share/doc ${TALVERON_PAGES_DIR:+"$TALVERON_PAGES_DIR"} \
         -type f \( -name '*.html' -o -name '*.htm' \) 2>/dev/null || true; } | LC_ALL=C sort |
    "$make" real "$corpus/real.html" $((256 * MB))
fi
[ -s "$corpus/dense.html" ] || "$make" dense "$corpus/dense.html" $((64 * MB))
[ -s "$corpus/nomatch.html" ] || "$make" nomatch "$corpus/nomatch.html" $((256 * MB))
[ -s "$corpus/never.html" ] || "$make" never "$corpus/never.html" $((2048 * MB))
# Folders of pages for the command line: a copy of some 48 MB of the real
# pages, and 10,000 synthetic pages of 2 KB.
bench/make_pages.sh "$make" "$corpus"
# A crawl's web archive of 1 GiB (the real pages again and again, each
# record a gzip member), and real.html compressed by zstd.
python3 bench/make_archive.py "$corpus"

echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(date -u +%Y-%m-%d)"
python3 bench/compare.py build/talveron "$corpus" "${1:-5}"
echo
python3 bench/cli_compare.py build/talveron "$corpus" "${1:-5}"
echo
build/bench/harvest_threads "$corpus/real.html" "${1:-5}"
echo
python3 bench/archive_compare.py build/talveron "$corpus" "${1:-5}"
