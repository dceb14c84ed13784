#!/usr/bin/env bash
# Time, peak memory and output of `talveron --html` on pages whose links
# are short and whose <base href> is long (200 KB): of letters, of bytes
# that are no UTF-8 (each written as nine, %EF%BF%BD), and ending in '/'
# (every link's address the whole base and more). A link costs time in
# proportion to itself and its address, and no address passes
# --max-address: the output stays small.
#
#   bench/long_base.sh [build/talveron]
set -euo pipefail
host=$(realpath "${1:-build/talveron}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - <<'PY'
def page(name, base, size):
    body = bytearray(b'<!doctype html><base href="' + base + b'">')
    i = 0
    while len(body) < size:
        body += b'<a href=p%d.html>x</a>\n' % i
        i += 1
    open(name, 'wb').write(bytes(body))
page('letters.html', b'http://x.jp/' + b'a' * 200000, 1 << 20)
page('bytes.html', b'http://x.jp/' + b'\xff' * 200000, 1 << 20)
page('slash.html', b'http://x.jp/' + b'\xff' * 262000 + b'/', 263 * 1024)
PY
for page in letters.html bytes.html slash.html; do
  /usr/bin/time -f "$page ($(($(stat -c %s $page) / 1024)) KB): %e s, peak %M KB" \
    "$host" --html --no-progress -s --base=http://x.jp/ --output=records.txt "$page" || true
  echo "  output: $(stat -c %s records.txt) bytes, $(wc -l < records.txt) records"
done
