"""The Python package talveron against the tool: links() gives the records
of `talveron --json`, field for field, whatever the source is given as.

    TALVERON=build/talveron PYTHONPATH=build/python python3 -m unittest -v test_talveron

TALVERON names the talveron program; PYTHONPATH must lead to the package of
the build folder (build/python); TALVERON_PAGES_DIR, when set, a folder of
real pages compared over as well.
"""
import gzip
import io
import json
import os
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import talveron

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
TALVERON = os.path.abspath(os.environ.get("TALVERON") or os.path.join(SOURCE, "build", "talveron"))
SAMPLE = os.path.join(SOURCE, "samples", "links.html")

# A page with what differs between the fields: text, rel, fragments, a
# repeated address, bytes that are not UTF-8, other kinds of links.
PAGE = (b'<html><head><base href="http://h.example/d/"><link rel="next" href="n.html">'
        b'<meta http-equiv="refresh" content="5; url=/moved#top"></head><body>\n'
        b'<a href="a.html#one" rel="nofollow  me">  Caf\xc3\xa9 \xff &amp; <b>bold</b>\n text</a>\n'
        b'<a href="a.html#two">again</a><a href="a.html#one">same</a>\n'
        b'<area href="http://ads.example/x"><iframe src="f.html"></iframe><img src="i.png">\n'
        b'<form action="/post"></form><a href="mailto:x@h.example">mail</a>\n'
        b'<a href="http://h.example/caf\xe9/">latin-1</a>\n'
        b'<A HREF="http://plain.example/p">plain</A> <a href="https://secure.example/">s</a>\n')


def warc(kind, uri, block, content_type="application/http; msgtype=response"):
    head = f"WARC/1.0\r\nWARC-Type: {kind}\r\nWARC-Target-URI: <{uri}>\r\nContent-Type: {content_type}\r\n"
    return head.encode() + b"Content-Length: %d\r\n\r\n%s\r\n\r\n" % (len(block), block)


def response(body, status=b"200 OK", headers=b"Content-Type: text/html\r\n"):
    return b"HTTP/1.1 " + status + b"\r\n" + headers + b"\r\n" + body


def crawl():
    """A crawl as crawlers keep it: each record a gzip member; a coded
    body, a redirect, a style sheet, a request and a warcinfo among the
    responses."""
    records = [warc("warcinfo", "urn:x", b"software: test\r\n", "application/warc-fields"),
               warc("response", "http://h.example/", response(PAGE)),
               warc("request", "http://h.example/", b"GET / HTTP/1.1\r\n\r\n", "application/http; msgtype=request"),
               warc("response", "http://h.example/old", response(b"", b"301 Moved",
                                                                 b"Location: /new#x\r\nContent-Length: 0\r\n")),
               warc("response", "http://h.example/z",
                    response(gzip.compress(PAGE[::-1] + PAGE, mtime=0), b"200 OK",
                             b"Content-Type: text/html\r\nContent-Encoding: gzip\r\n")),
               warc("response", "http://h.example/s.css", response(b"a{}", headers=b"Content-Type: text/css\r\n"))]
    return b"".join(gzip.compress(r, mtime=0) for r in records)


def tool(*args):
    done = subprocess.run([TALVERON, "--no-progress"] + list(args), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr.decode("utf-8", "replace")


def as_links(out):
    """talveron --json's lines as Link tuples, by Python's own JSON reader."""
    return [talveron.Link(*(json.loads(line).get(field) for field in talveron.Link._fields))
            for line in out.splitlines()]


# The options of links() and the tool's words for them.
CASES = [
    ({}, []),
    ({"https": True, "keywords": ["ads", "", "track"]}, ["--https", "-x", "ads", "-x", "", "-x", "track"]),
    ({"unique": True, "no_fragment": True, "status": [range(200, 300)]}, ["--unique", "--no-fragment",
                                                                         "--status=200-299"]),
    ({"html": True}, ["--html"]),
    ({"html": True, "base": "https://b.example/x/", "status": "301,100-200"},
     ["--html", "--base=https://b.example/x/", "--status=301,100-200"]),
    ({"html": True, "links": ["a", "redirect", "frame", "link", "form", "resource"], "unique": True},
     ["--html", "--links=a,redirect,frame,link,form,resource", "--unique"]),
    ({"html": True, "links": "a,redirect", "status": [range(200, 301)]}, ["--html", "--links=a,redirect",
                                                                        "--status=200-300"]),
    ({"html": True, "links": list(talveron.LINK_KINDS), "no_fragment": True, "keywords": ["ads"]},
     ["--html", "--links=" + ",".join(talveron.LINK_KINDS), "--no-fragment", "-x", "ads"]),
]


class LinksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.access(TALVERON, os.X_OK):
            raise unittest.SkipTest(f"no talveron program at {TALVERON}: set TALVERON")
        cls.folder = tempfile.mkdtemp(prefix="talveron-python-")
        cls.inputs = {"sample": SAMPLE}
        for name, data in (("page.html", PAGE), ("page.html.gz", gzip.compress(PAGE, mtime=0)),
                           ("crawl.warc.gz", crawl())):
            cls.inputs[name] = os.path.join(cls.folder, name)
            with open(cls.inputs[name], "wb") as f:
                f.write(data)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def assertAsTheTool(self, path, options, words):
        status, out, err = tool("--json", *words, path)
        self.assertIn(status, (0, 1), err)
        expected = as_links(out)
        self.assertEqual(list(talveron.links(path, **options)), expected)
        return expected

    def test_records_are_the_tools_json(self):
        found = set()
        for name, path in self.inputs.items():
            for options, words in CASES:
                with self.subTest(input=name, options=options):
                    found.update(link.element for link in self.assertAsTheTool(path, options, words))
        # The cases reach the kinds of links they name.
        self.assertLessEqual({"a", "area", "http", "meta", "iframe", "img", "link", "form"}, found)

    def test_real_pages(self):
        folder = os.environ.get("TALVERON_PAGES_DIR")
        if not folder:
            self.skipTest("TALVERON_PAGES_DIR is not set: no real pages to compare over")
        names = sorted(n for n in os.listdir(folder) if n.lower().endswith((".html", ".htm")))
        self.assertTrue(names, f"no pages in {folder}")
        for name in names:
            for options, words in (CASES[0], CASES[3], CASES[6]):
                with self.subTest(page=name, options=options):
                    self.assertAsTheTool(os.path.join(folder, name), options, words)

    def test_a_path_a_file_object_and_bytes_give_the_same(self):
        for name in ("page.html.gz", "crawl.warc.gz"):
            path = self.inputs[name]
            with open(path, "rb") as f:
                data = f.read()
            for options in ({}, {"html": True, "base": "http://x.example/", "links": "a,area,redirect"}):
                with self.subTest(input=name, options=options):
                    expected = list(talveron.links(path, **options))
                    self.assertTrue(expected)
                    with open(path, "rb") as f:
                        f.read(1)
                        f.seek(0)  # a buffered file that has read ahead: from where it stands
                        self.assertEqual(list(talveron.links(f, **options)), expected)
                    self.assertEqual(list(talveron.links(io.BytesIO(data), label=path, **options)), expected)

                    class Reader:  # read() alone
                        def __init__(self):
                            self.rest = io.BytesIO(data)

                        def read(self, size):
                            return self.rest.read(min(size, 1000))

                    self.assertEqual(list(talveron.links(Reader(), label=path, **options)), expected)
                    # A pipe's descriptor, as a program's output comes.
                    read_end, write_end = os.pipe()
                    writer = threading.Thread(target=lambda: (os.write(write_end, data), os.close(write_end)))
                    writer.start()
                    with open(read_end, "rb") as pipe:
                        self.assertEqual(list(talveron.links(pipe, label=path, **options)), expected)
                    writer.join()
                    for given in (data, bytearray(data), memoryview(data)):
                        self.assertEqual(list(talveron.links(given, label=path, **options)), expected)

    def test_failures_raise_the_tools_message_after_the_records(self):
        missing = os.path.join(self.folder, "missing.html")
        cut = os.path.join(self.folder, "cut.html.gz")
        with open(cut, "wb") as f:
            f.write(gzip.compress(PAGE)[:-20])
        # An archive with a record whose coded body is cut, and more malformed
        # records than the tool says one by one.
        broken = os.path.join(self.folder, "broken.warc")
        with open(broken, "wb") as f:
            f.write(warc("response", "http://h.example/", response(PAGE)) +
                    warc("response", "http://h.example/cut", response(
                        gzip.compress(PAGE)[:30], headers=b"Content-Type: text/html\r\nContent-Encoding: gzip\r\n")) +
                    b"WARC/1.0\r\nWARC-Type: response\r\n\r\n\r\n\r\n" * 11 +
                    warc("response", "http://h.example/last", response(PAGE)))
        for path, options in ((missing, {}), (missing, {"html": True}), (cut, {}), (cut, {"html": True}),
                              (broken, {}), (broken, {"html": True})):
            with self.subTest(path=path, options=options):
                status, out, err = tool("--json", *(["--html"] if options else []), path)
                self.assertEqual(status, 2)
                got = []
                with self.assertRaises(talveron.Error) as raised:
                    for link in talveron.links(path, **options):
                        got.append(link)
                self.assertEqual(got, as_links(out))
                self.assertEqual(str(raised.exception), err.strip().replace("talveron: ", ""))
        class Failing(io.RawIOBase):
            def readable(self):
                return True

            def readinto(self, buffer):
                raise OSError(5, "the reader's own failure")

        with self.assertRaisesRegex(OSError, "the reader's own failure"):
            list(talveron.links(Failing()))
        self.assertRaises(TypeError, talveron.links, 42)
        # The longest keyword line the module reads, and one byte more.
        self.assertEqual(list(talveron.links(SAMPLE, keywords=["a" * 127, "b" * 127])),
                         as_links(tool("--json", SAMPLE)[1]))
        self.assertRaises(ValueError, talveron.links, SAMPLE, keywords=["a" * 128, "b" * 127])
        for bad in ({"keywords": list("abcdefg")}, {"keywords": ["a b"]}, {"links": ["a"]},
                    {"html": True, "links": ["anchor"]}, {"html": True, "base": "ftp://x/"}, {"base": "http://x/"},
                    {"status": "600"}, {"status": "300-200"}, {"status": "2xx"}):
            with self.subTest(arguments=bad):
                with self.assertRaises(ValueError):
                    talveron.links(SAMPLE, **bad)

    def test_no_descriptor_is_left_open(self):
        before = sorted(os.listdir("/proc/self/fd"))
        for path in self.inputs.values():
            for options in ({}, {"html": True}):
                list(talveron.links(path, **options))
                with open(path, "rb") as f:
                    list(talveron.links(f, **options))
        self.assertEqual(sorted(os.listdir("/proc/self/fd")), before)

    def test_closing_early_stops_the_search(self):
        class Endless(io.RawIOBase):
            """A page that never ends, counting the bytes read from it."""

            def __init__(self):
                self.given = 0

            def readable(self):
                return True

            def readinto(self, buffer):
                line = b'<a href="http://endless.example/%d">x</a>\n' % self.given
                n = min(len(buffer), len(line))
                buffer[:n] = line[:n]
                self.given += n
                return n

        source = Endless()
        records = talveron.links(source)
        self.assertEqual(next(records).url, "http://endless.example/0/")
        # A caller that does not take the records holds the search: what was
        # read stays bounded, however long it waits.
        before, deadline = -1, time.monotonic() + 30
        while source.given != before and time.monotonic() < deadline:
            before = source.given
            time.sleep(0.3)
        self.assertLess(source.given, 4 << 20)
        records.close()  # ends: an endless search would not
        after = source.given
        time.sleep(0.3)
        self.assertEqual(source.given, after)
        self.assertEqual([t.name for t in threading.enumerate() if t.name == "talveron-search"], [])


class UrlTest(unittest.TestCase):
    def test_url_is_nodes(self):
        node = shutil.which("node")
        if not node:
            self.skipTest("node is not installed")
        cases = [("../a b?q=1#f", "http://h.example/d/e/"), ("HTTP://EXAMPLE.COM:80/./x", None),
                 ("/" + "p" * 400, "https://h.example/"), ("http://[::1", None), ("x", None),
                 ("http://xn--nxasmq6b.example/", None), ("ｈｔｔｐ://ｘ.example/", None)]
        script = ("const out = JSON.parse(require('fs').readFileSync(0, 'utf8')).map(([i, b]) => "
                  "{ try { return new URL(i, b === null ? undefined : b).href; } catch (e) { return null; } });"
                  "process.stdout.write(JSON.stringify(out));")
        expected = json.loads(subprocess.run([node, "-e", script], input=json.dumps(cases).encode(),
                                             stdout=subprocess.PIPE, check=True).stdout)
        for (given, base), href in zip(cases, expected):
            with self.subTest(input=given, base=base):
                if href is None:
                    self.assertRaises(ValueError, talveron.url, given, base)
                else:
                    self.assertEqual(talveron.url(given, base), href)

    def test_no_url_holds_a_0_byte(self):
        for given, base in (("http://h.example/a\0b", None), ("a", "http://h.example/\0")):
            self.assertRaises(ValueError, talveron.url, given, base)

    def test_version_is_the_tools(self):
        self.assertIn(talveron.version(), tool("--version")[1].decode())
