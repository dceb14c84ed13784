"""The link graph of a crawl's web archive as a Python user would write it: a
record loop of its own over the gzip stream, Debian's python3-lxml
(lxml.html) for the links of each HTML response, urljoin for the base.
Prints PAGE<TAB>ADDRESS for every http and https address, as
`talveron -z --html --tsv` does; with --json, one JSON object per link with
the fields of `talveron -z --html --json` (page, url, href, element,
attribute, the anchor text with white space collapsed, rel; offset null:
lxml keeps no byte offsets). A peer for the benchmark.

    python3 bench/pylinks.py [--json] crawl.warc.gz
"""
import gzip
import json
import sys
from urllib.parse import urljoin

import lxml.html


def records(stream):
    """(headers, block) of each WARC record."""
    while True:
        line = stream.readline()
        if not line:
            return
        if not line.startswith(b"WARC/"):
            continue
        headers = {}
        for line in iter(stream.readline, b"\r\n"):
            name, _, value = line.partition(b":")
            headers[name.strip().lower()] = value.strip()
        yield headers, stream.read(int(headers[b"content-length"]))


def unchunk(body):
    out, at = [], 0
    while True:
        end = body.index(b"\r\n", at)
        size = int(body[at:end].split(b";")[0], 16)
        if size == 0:
            return b"".join(out)
        out.append(body[end + 2:end + 2 + size])
        at = end + 4 + size


def anchor_text(element):
    """An a's text: its content's text, white space collapsed, cut at 1,024 bytes."""
    if element.tag != "a":
        return None
    text = " ".join(element.text_content().split()).encode()[:1024]
    return text.decode(errors="ignore")


def main():
    out = sys.stdout
    as_json = sys.argv[1] == "--json"
    with gzip.open(sys.argv[-1], "rb") as stream:
        for headers, block in records(stream):
            if headers.get(b"warc-type") != b"response":
                continue
            head, _, body = block.partition(b"\r\n\r\n")
            fields = {}
            for line in head.split(b"\r\n")[1:]:
                name, _, value = line.partition(b":")
                fields[name.strip().lower()] = value.strip().lower()
            if fields.get(b"content-type", b"text/html").split(b";")[0] not in (b"text/html", b"application/xhtml+xml"):
                continue
            if b"chunked" in fields.get(b"transfer-encoding", b""):
                body = unchunk(body)
            if not body.strip():
                continue
            page = headers[b"warc-target-uri"].decode().strip("<>")
            try:
                tree = lxml.html.document_fromstring(body)
            except ValueError:
                continue
            base = page
            for element in tree.iter("base"):
                if element.get("href") is not None:
                    base = urljoin(page, element.get("href").strip())
                    break
            for element in tree.iter("a", "area"):
                href = element.get("href")
                if href is None:
                    continue
                address = urljoin(base, href.strip())
                if not address.startswith(("http://", "https://")):
                    continue
                if as_json:
                    out.write(json.dumps({"page": page, "url": address, "href": href, "element": element.tag,
                                          "attribute": "href", "text": anchor_text(element),
                                          "rel": element.get("rel"), "offset": None}, ensure_ascii=False) + "\n")
                else:
                    out.write(f"{page}\t{address}\n")


if __name__ == "__main__":
    main()
