"""Writes the seed corpus of the fuzz targets: small inputs that reach every
branch of the search (the 14-byte step back, the end of the input inside the
opening and inside an address, addresses of 498 to 501 bytes, keyword lines
of 254 to 257 bytes, 0 bytes, Shift_JIS) and of the settings load.

    python3 fuzz/make_seeds.py   (from the project root)
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(folder, name, data):
    os.makedirs(os.path.join(HERE, "corpus", folder), exist_ok=True)
    with open(os.path.join(HERE, "corpus", folder, name), "wb") as f:
        f.write(data)


def search(name, page, keywords=b"", options=0):
    write("search", name, bytes([options]) + keywords + b"\n" + page)


A = b'<a href="http://'
search("plain", b"x" + A + b'a.jp/x.html">y ' + A + b'b.jp">')
search("capitals", b'<A HREF="HTTP://Ex.jp/X.HTM">')
search("lt-lt", b"<" + A + b'hidden.jp">')
search("lt-lt-lt", b"<<" + A + b'found.jp">')
search("lt-byte", b"<?" + A + b'found.jp">')
search("end-in-opening", b"xx" + A[:9])
search("opening-at-end", A)
search("end-in-address", A + b"never.closes/")
search("quote-last", A + b'a.jp"')
search("adjacent", A + b'a.jp"' + A + b'b.jp">')
search("near-misses", b"<a href='http://x'><a  href=\"http://x\"><a href=\"https://x\">")
for n in (498, 499, 500, 501):
    search("address-%d" % n, A + b"q" * (n - 7) + b'">' + A + b'z.jp">')
    search("address-%d-slash" % n, A + b"q" * (n - 8) + b'/">')
for n in (254, 255, 256, 257):
    search("keywords-%d" % n, A + b'abc.jp">' + A + b'xyz.jp">', b"k" * (n - 4) + b" abc")
search("zero-bytes", b"\0" + A + b'a.jp\0x.html">\0' + A + b'b\0">')
search("control-bytes", A + b'a\t\x1a\x7f\r\nb.jp">')
search("shift-jis", b"\x83\x41\x83\x68" + A + b'a.jp/\x95\x5c\x83\x41">', b"\x95\x5c")
search("keywords", A + b'abc.jp">' + A + b'ABC.jp">' + A + b'x.jp">', b" abc  jp/ x")
search("read-fails", b"x" * 40 + A + b'a.jp">' + b"y" * 40 + A + b'b.jp">', b"", 0x80)
search("small-blocks", b"<<" + A + b'a.jp">' + A + b'b.jp">', b"", 3)
search("plain-kernel", b"x" * 100 + A + b'a.jp">' + b"<<<" + A + b'b.jp">', b"", 0x2b)

write("settings", "well-formed", b"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\r\n")
write("settings", "bare-lf-and-cr", b"a\rb\nc\n")
write("settings", "fewer-lines", b"1\n2\n")
write("settings", "more-lines", b"1\n2\n3\n4\n5\n6\n7\n8\n9\n")
write("settings", "no-last-lf", b"1\n2\n3")
write("settings", "zero-bytes", b"a\0b\n\0\n")
write("settings", "shift-jis", b"\x82\xa0\t\x81\x40\r\n")
write("settings", "empty", b"")
write("settings", "last-zero-line", b"a\rb\n\0")


def warc_record(kind, uri, block, version=b"WARC/1.0"):
    return (version + b"\r\nWARC-Type: " + kind + b"\r\nWARC-Target-URI: <" + uri + b">\r\nContent-Length: "
            + str(len(block)).encode() + b"\r\n\r\n" + block + b"\r\n\r\n")


import gzip  # noqa: E402
import zlib  # noqa: E402

PAGE = A + b'a.jp">' + A + b'b.jp/x.html">'
HTTP = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n"
CHUNKED = b"6\r\n" + PAGE[:6] + b"\r\n" + b"%x;e=1\r\n" % (len(PAGE) - 6) + PAGE[6:] + b"\r\n0\r\nT: x\r\n\r\n"
write("warc", "records", warc_record(b"warcinfo", b"", b"x: y\r\n") + warc_record(b"request", b"http://a/", b"GET /")
      + warc_record(b"response", b"http://a/", HTTP + b"\r\n" + PAGE)
      + warc_record(b"resource", b"file:///r", PAGE, b"WARC/1.1"))
write("warc", "chunked", warc_record(b"response", b"http://c/", HTTP + b"Transfer-Encoding: chunked\r\n\r\n" + CHUNKED))
write("warc", "gzip", warc_record(b"response", b"http://g/", HTTP + b"Content-Encoding: gzip\r\n\r\n"
                                  + gzip.compress(PAGE)))
write("warc", "deflate", warc_record(b"response", b"http://d/", HTTP + b"Content-Encoding: deflate\r\n\r\n"
                                     + zlib.compress(PAGE)))
write("warc", "continue", warc_record(b"response", b"http://e/", b"HTTP/1.1 100 Continue\r\n\r\n" + HTTP + b"\r\n"
                                      + PAGE))
write("warc", "malformed", b"WARC/1.0\r\nWARC-Type: response\r\n\r\nxx\r\nWARC/1.0\r\n" + b"junk\r\n\r\n"
      + warc_record(b"response", b"http://f/", HTTP + b"\r\n" + PAGE)[:-2])
