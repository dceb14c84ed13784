#!/usr/bin/env bash
# Writes the folders of pages that bench/cli_compare.py walks, when missing:
#
#   CORPUS/pages        real pages: the HTML documentation installed on the
#                       machine and the pages of TALVERON_PAGES_DIR when it is
#                       set (as bench/run.sh finds them for real.html), every
#                       Nth file of the sorted list so that the pages come to
#                       about 48 MB, under their own paths in CORPUS/pages/1;
#                       when the machine has fewer, all of them, again under
#                       CORPUS/pages/2, 3, ... until there are at least 400
#                       pages and 48 MB
#   CORPUS/small-pages  10,000 synthetic pages of 2 KB (make_corpus pages)
#
#   bench/make_pages.sh MAKE_CORPUS CORPUS_DIR
set -euo pipefail
make=$1
corpus=$2
MIN_BYTES=$((48 * 1024 * 1024))
MIN_PAGES=400

if [ ! -d "$corpus/small-pages" ]; then
  rm -rf "$corpus/small-pages.tmp"
  "$make" pages "$corpus/small-pages.tmp" 10000 2048
  mv "$corpus/small-pages.tmp" "$corpus/small-pages"
fi

[ -d "$corpus/pages" ] && exit 0
list=$(mktemp)
trap 'rm -f "$list" "$list.picked"' EXIT
# Sizes and paths, sorted by path; a path with a tab or a line end in it is
# passed over.
pages_dir=${TALVERON_PAGES_DIR:+$(realpath "$TALVERON_PAGES_DIR")}
{ find /usr/share/doc /usr/share/gtk-doc "$HOME"/.rustup/toolchains/*/share/doc ${pages_dir:+"$pages_dir"} \
       -type f \( -name '*.html' -o -name '*.htm' \) -printf '%s\t%p\n' 2>/dev/null || true; } |
  awk -F '\t' 'NF == 2' | LC_ALL=C sort -t "$(printf '\t')" -k2 > "$list"
if [ ! -s "$list" ]; then
  echo "make_pages.sh: no HTML documentation on this machine; set TALVERON_PAGES_DIR" >&2
  exit 0
fi
# Every Nth file, with the largest N whose files come to MIN_BYTES or more.
awk -F '\t' -v want="$MIN_BYTES" '
  { size[NR] = $1; path[NR] = $2; total += $1 }
  END {
    for (step = int(total / want); step > 1; step--) {
      sum = 0
      for (i = 1; i <= NR; i += step) sum += size[i]
      if (sum >= want) break
    }
    if (step < 1) step = 1
    for (i = 1; i <= NR; i += step) print size[i] "\t" substr(path[i], 2)
  }' "$list" > "$list.picked"
read -r count bytes < <(awk -F '\t' '{ n++; b += $1 } END { print n, b }' "$list.picked")

rm -rf "$corpus/pages.tmp"
copies=0 pages=0 total=0
while [ "$copies" -eq 0 ] || [ "$pages" -lt "$MIN_PAGES" ] || [ "$total" -lt "$MIN_BYTES" ]; do
  copies=$((copies + 1))
  mkdir -p "$corpus/pages.tmp/$copies"
  cut -f2 "$list.picked" | tar -C / --verbatim-files-from -T - -cf - | tar -C "$corpus/pages.tmp/$copies" -xf -
  pages=$((pages + count)) total=$((total + bytes))
done
mv "$corpus/pages.tmp" "$corpus/pages"
echo "make_pages.sh: $pages pages, $((total / 1024 / 1024)) MB in $corpus/pages" >&2
