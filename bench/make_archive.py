"""Writes the compressed inputs of bench/archive_compare.py, when missing:

  CORPUS/crawl.warc.gz  a crawl's web archive of GiB (1 GiB uncompressed by
                        default): the pages of CORPUS/pages again and again
                        under new addresses, each as wget records it (a
                        request record and a response record holding the
                        HTTP response, one in four sent chunked), every
                        record a gzip member of its own, as crawlers write
                        them
  CORPUS/real.html.zst  CORPUS/real.html compressed by zstd (its default level)

    python3 bench/make_archive.py CORPUS [GiB]
"""
import gzip
import multiprocessing
import os
import subprocess
import sys

REQUEST = (b"GET /%s HTTP/1.1\r\nUser-Agent: Wget/1.21.3\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
           b"Host: %s\r\nConnection: Keep-Alive\r\n\r\n")


def record(kind, uri, block):
    return (b"WARC/1.0\r\nWARC-Type: %s\r\nWARC-Target-URI: <%s>\r\nWARC-Date: 2026-12-07T12:00:00Z\r\n"
            b"WARC-Record-ID: <urn:uuid:%032x>\r\nContent-Type: application/http;msgtype=%s\r\n"
            b"Content-Length: %d\r\n\r\n%s\r\n\r\n" % (kind, uri, hash(uri + kind) & (2**128 - 1),
                                                       kind, len(block), block))


def chunked(body):
    step = 8192
    out = [b"%x\r\n%s\r\n" % (len(body[k:k + step]), body[k:k + step]) for k in range(0, len(body), step)]
    return b"".join(out) + b"0\r\n\r\n"


def members(job):
    """The gzip members of the records of one round over the pages."""
    round_, pages = job
    out = []
    for k, (path, body) in enumerate(pages):
        host = b"site%d.example" % (k % 97)
        uri = b"http://%s/r%d/%s" % (host, round_, path)
        out.append(gzip.compress(record(b"request", uri, REQUEST % (path, host)), 6))
        if k % 4 == 0:
            head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
            block = head + chunked(body)
        else:
            head = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(body)
            block = head + body
        out.append(gzip.compress(record(b"response", uri, block), 6))
    return b"".join(out)


def main():
    corpus = sys.argv[1]
    target = int(float(sys.argv[2]) * 2**30) if len(sys.argv) > 2 else 2**30
    pages_dir = os.path.join(corpus, "pages")
    warc = os.path.join(corpus, "crawl.warc.gz")
    if not os.path.exists(warc) and os.path.isdir(pages_dir):
        pages = []
        for root, dirs, names in os.walk(pages_dir):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(root, name)
                with open(path, "rb") as f:
                    pages.append((os.path.relpath(path, pages_dir).encode(), f.read()))
        per_round = sum(len(body) + 600 for _, body in pages)
        rounds = max(1, -(-target // per_round))
        with open(warc + ".tmp", "wb") as out, multiprocessing.Pool() as pool:
            out.write(gzip.compress(record(b"warcinfo", b"", b"software: bench/make_archive.py\r\n"), 6))
            for data in pool.imap(members, [(r, pages) for r in range(rounds)]):
                out.write(data)
        os.rename(warc + ".tmp", warc)
    real = os.path.join(corpus, "real.html")
    zst = real + ".zst"
    if not os.path.exists(zst) and os.path.exists(real):
        subprocess.run(["zstd", "-q", real, "-o", zst + ".tmp"], check=True)
        os.rename(zst + ".tmp", zst)


if __name__ == "__main__":
    main()
