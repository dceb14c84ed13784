#!/usr/bin/python3
"""The documents' commands run against the build.

Collects the commands that the README and the guides under doc/ show (the
lines beginning "$ " in blocks fenced ```sh) and the EXAMPLES of the two
manual pages (host/talveron.1, python/talveron-dask.1: lines set in bold,
groff escapes undone), and runs each group of them (one fenced block, one
.RS/.RE display) in a fresh temporary folder that holds the files they name:
the bundled sample, saved pages, a page, a crawl as a gzip'd web archive.
`talveron` (and `talveron-dask`) on PATH are the build's.

A command passes when it exits 0 or 1 (1: nothing found, as grep), and 0
when the document shows output behind it. It fails on status 2 or more, a
timeout, or a diagnostic that names an unknown option, a missing file or a
missing command; the failure names the document and its line.

Commands that cannot run here are left out by the patterns of SKIPPED,
each with its reason. The README's C example is compiled against the
build's library and run on a page. Every relative link of the README and
doc/ must lead to a file, and a link to a heading to a heading there.

Usage: docs_commands.py --talveron PATH [--talveron-dask PATH]
           [--compiler CC --library LIBTALVERON_SO] [--source DIR]
"""
import argparse
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

# (pattern, why the command is not run here); searched in the command line.
SKIPPED = [
    (r"\b(curl|wget)\b", "fetches pages from the network"),
    (r"\bdask[ -](scheduler|worker)\b", "starts a Dask cluster's scheduler or worker"),
    (r"--scheduler\b", "needs a running Dask cluster at that address"),
    (r"\b(sudo|apt-get)\b", "installs system packages"),
    (r"(^|&&\s*)(scripts/install-deps\.sh|cmake|ctest)\b",
     "the build and test commands themselves (ctest would run this test again)"),
    (r"\bbuild/tests/", "the build's own test program"),
    (r"\bbench/", "the benchmark: it builds, and writes gigabytes of corpora"),
    (r"\bPKG_CONFIG_PATH=|^cc |\./a\.out|LD_LIBRARY_PATH=DIR",
     "a program built against the library installed at a prefix (the README's "
     "C example is compiled and run below instead; installed_library tests the install)"),
    (r"^cd /shared\b", "a cluster's shared file system"),
]

# A diagnostic that always means the document is wrong.
BAD_DIAGNOSTIC = re.compile(
    rb"unknown option|unrecognized option|invalid option|No such file or directory|command not found")

PAGE = b"""<html><head><title>A page</title></head><body>
<p>Links of every kind:</p>
<a href="http://www.example.jp/">home</a>
<a href="http://www.example.jp/docs/index.html">docs</a>
<a href="http://ads.example.jp/">an advertisement</a>
<a href="http://track.example.jp/pixel">a tracker</a>
<a href="https://secure.example.jp/login">https</a>
<a href='http://single.example.jp/'>single quotes</a>
<a href="news/today.html">relative</a>
</body></html>
"""
NO_RECORD = b"""<html><body><a href="https://only.example.jp/">https only</a>
<a href="relative.html">relative</a></body></html>
"""
OTHER_NAME = b"""<html><body><a href="http://www.example.jp/page.asp">asp</a></body></html>
"""
DOCS_INDEX = b"""<html><head><base href="https://www.example.jp/docs/"></head><body>
<a href="intro.html">intro</a> <a href="../about/">about</a>
<a href="http://www.example.jp/index.html">home</a> <a href="mailto:x@example.jp">mail</a>
</body></html>
"""


def warc_record(number, kind, uri, block, content_type):
    head = (f"WARC/1.0\r\nWARC-Type: {kind}\r\nWARC-Record-ID: <urn:uuid:{number:032x}>\r\n"
            f"WARC-Date: 2026-01-01T00:00:00Z\r\n")
    if uri:
        head += f"WARC-Target-URI: <{uri}>\r\n"
    head += f"Content-Type: {content_type}\r\nContent-Length: {len(block)}\r\n\r\n"
    return head.encode() + block + b"\r\n\r\n"


def crawl_archive():
    """A small crawl as wget keeps it: each record a gzip member of its own."""
    records = [warc_record(0, "warcinfo", None, b"software: docs_commands\r\n", "application/warc-fields")]
    for uri, page in (("http://www.example.jp/", PAGE), ("http://www.example.jp/empty.html", NO_RECORD),
                      ("https://www.example.jp/docs/", DOCS_INDEX)):
        records.append(warc_record(len(records), "request", uri, b"GET / HTTP/1.1\r\nHost: www.example.jp\r\n\r\n",
                                   "application/http; msgtype=request"))
        body = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n" % len(page) + page
        records.append(warc_record(len(records), "response", uri, body, "application/http; msgtype=response"))
    return b"".join(gzip.compress(r, mtime=0) for r in records)


def make_fixture(folder, source):
    """The files the documents' commands name."""
    shutil.copytree(os.path.join(source, "samples"), os.path.join(folder, "samples"))
    sample = open(os.path.join(source, "samples", "links.html"), "rb").read()

    def put(name, data):
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    put("page.html", PAGE)
    put("docs/index.html", DOCS_INDEX)
    for pages in ("saved-pages", "pages"):
        put(f"{pages}/links.html", sample)
        put(f"{pages}/page.html", PAGE)
        put(f"{pages}/no-record.htm", NO_RECORD)
        put(f"{pages}/other.asp", OTHER_NAME)
        put(f"{pages}/compressed.html.gz", gzip.compress(PAGE, mtime=0))
    archive = crawl_archive()
    put("crawl.warc.gz", archive)
    put("crawls/crawl.warc.gz", archive)
    put("crawls/plain.warc", gzip.decompress(archive))


def unescape_groff(text):
    """The escapes the manual pages' examples use."""
    names = {"aq": "'", "dq": '"', "em": "--", "en": "-", "ti": "~", "ha": "^", "rs": "\\"}

    def one(m):
        e = m.group(1)
        if e.startswith("("):
            if e[1:] not in names:
                raise ValueError(f"unknown groff escape \\{e}")
            return names[e[1:]]
        return {"-": "-", "e": "\\", " ": " ", "&": "", "|": "", "^": "", "~": " ", "0": " ", "\\": "\\"}.get(e) \
            if e in "-e &|^~0\\" else m.group(0)

    text = re.sub(r"\\f[BIRP]", "", text)
    return re.sub(r"\\(\(..|.)", one, text)


class Command:
    def __init__(self, doc, line, text):
        self.doc, self.line, self.text, self.shows_output = doc, line, text, False

    def where(self):
        return f"{self.doc}:{self.line}"


def markdown_groups(path, name):
    """Each ```sh block's commands ("$ " lines, "\\" continued), and
    whether output is shown behind each."""
    groups, group, fenced = [], None, False
    problems = []
    lines = open(path, encoding="utf-8").read().split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        if not fenced and re.match(r"^```(sh|bash|console)\s*$", line):
            fenced, group = True, []
        elif fenced and line.startswith("```"):
            fenced = False
            groups.append(group)
        elif fenced:
            if line.startswith("$ "):
                command = Command(name, i + 1, line[2:])
                while command.text.endswith("\\") and i + 1 < len(lines):
                    i += 1
                    command.text = command.text[:-1] + lines[i]
                group.append(command)
            elif line.strip() and not line.lstrip().startswith("#"):
                if group:
                    group[-1].shows_output = True
                if re.match(r"^(talveron|talveron-dask|cmake|ctest) ", line):
                    problems.append(f"{name}:{i + 1}: a command without its '$ ': {line}")
        i += 1
    if fenced:
        problems.append(f"{name}: a ```sh block is not closed")
    return groups, problems


def manual_groups(path, name):
    """The EXAMPLES section's displays: bold lines (\\fB...\\fP whole, or
    .B), or the plain lines of a .nf display that has no bold line; other
    lines of a display are output."""
    lines = open(path, encoding="utf-8").read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith(".SH EXAMPLES"))
    end = next((i for i in range(start + 1, len(lines)) if lines[i].startswith(".SH")), len(lines))
    groups, display = [], None
    for i in range(start + 1, end):
        line = lines[i]
        if line.startswith(".RS"):
            display = []
        elif line.startswith(".RE"):
            bold = any(kind != "plain" for kind, _, _ in display)
            group = []
            for kind, number, text in display:
                if kind == "bold" or (kind == "plain" and not bold):
                    group.append(Command(name, number, unescape_groff(text)))
                elif kind == "plain" and group:
                    group[-1].shows_output = True
            groups.append(group)
            display = None
        elif display is not None:
            m = re.match(r"^\\fB(.*)\\fP$", line)
            if m and "\\fP" not in m.group(1):
                display.append(("bold", i + 1, m.group(1)))
            elif line.startswith(".B "):
                display.append(("bold", i + 1, line[3:]))
            elif line.strip() and not line.startswith("."):
                display.append(("plain", i + 1, line))
    return groups


def skip_reason(command):
    for pattern, why in SKIPPED:
        if re.search(pattern, command.text):
            return why
    return None


def heading_slugs(path):
    slugs, fenced = set(), False
    for line in open(path, encoding="utf-8"):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced and line.startswith("#"):
            title = line.lstrip("#").strip().lower().replace("`", "")
            slugs.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return slugs


def check_links(documents, source):
    problems = []
    for path in documents:
        text = open(path, encoding="utf-8").read()
        text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
        for number, line in enumerate(text.split("\n"), 1):
            for target in re.findall(r"\]\(([^)\s]+)\)", line):
                if re.match(r"^[a-z]+:", target):
                    continue
                file, _, anchor = target.partition("#")
                goal = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
                name = os.path.relpath(path, source)
                if not os.path.exists(goal):
                    problems.append(f"{name}: the link to {target} leads to no file")
                elif anchor and goal.endswith(".md") and anchor not in heading_slugs(goal):
                    problems.append(f"{name}: the link to {target} leads to no heading")
    return problems


def run_group(group, source, bin_dir, failures, counts):
    with tempfile.TemporaryDirectory(prefix="talveron-docs-") as folder:
        make_fixture(folder, source)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ.get("PATH", ""), LC_ALL="C.UTF-8")
        previous = 0
        for command in group:
            try:
                done = subprocess.run(["bash", "-o", "pipefail", "-c", f"(exit {previous}); {command.text}"],
                                      cwd=folder, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, timeout=180)
            except subprocess.TimeoutExpired:
                failures.append(f"{command.where()}: timed out: {command.text}")
                continue
            previous = done.returncode
            counts["run"] += 1
            said = BAD_DIAGNOSTIC.search(done.stderr)
            if done.returncode >= 2 or done.returncode < 0:
                failures.append(f"{command.where()}: exit {done.returncode}: {command.text}\n"
                                f"    {done.stderr.decode(errors='replace').strip()}")
            elif said:
                failures.append(f"{command.where()}: '{said.group(0).decode()}': {command.text}\n"
                                f"    {done.stderr.decode(errors='replace').strip()}")
            elif command.shows_output and done.returncode != 0:
                failures.append(f"{command.where()}: exit {done.returncode}, but the document shows "
                                f"output: {command.text}")
            else:
                print(f"ok   {command.where()}: {command.text} (exit {done.returncode})")


def c_example(source, compiler, library, failures):
    """The README's C program, built against the build's library and run."""
    text = open(os.path.join(source, "README.md"), encoding="utf-8").read()
    blocks = re.findall(r"^```c\n(.*?)^```", text, flags=re.S | re.M)
    programs = [b for b in blocks if "int main" in b]
    if len(programs) != 1:
        failures.append(f"README.md: {len(programs)} C programs with a main, not one")
        return
    with tempfile.TemporaryDirectory(prefix="talveron-docs-c-") as folder:
        make_fixture(folder, source)
        with open(os.path.join(folder, "prog.c"), "w", encoding="utf-8") as f:
            f.write(programs[0])
        libdir = os.path.dirname(os.path.abspath(library))
        built = subprocess.run([compiler, "-x", "c", "-std=c11", "-D_POSIX_C_SOURCE=200809L", "-Wall",
                                "-Werror", "prog.c", "-x", "none", "-I", os.path.join(source, "include"),
                                os.path.abspath(library), f"-Wl,-rpath,{libdir}", "-o", "a.out"],
                               cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if built.returncode != 0:
            failures.append("README.md: the C program does not build:\n" + built.stdout.decode(errors="replace"))
            return
        ran = subprocess.run(["./a.out", "page.html"], cwd=folder, stdout=subprocess.PIPE, timeout=60)
        if ran.returncode != 0 or b"http://www.example.jp/\n" not in ran.stdout \
                or b"https://secure.example.jp/login/\n" not in ran.stdout or b"ads." in ran.stdout:
            failures.append(f"README.md: the C program exits {ran.returncode} with {ran.stdout!r}")
        else:
            print("ok   README.md: the C program, built and run on page.html")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--talveron", required=True)
    parser.add_argument("--talveron-dask")
    parser.add_argument("--compiler")
    parser.add_argument("--library")
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    args = parser.parse_args()
    source = os.path.abspath(args.source)

    documents = [os.path.join(source, "README.md")] + sorted(glob.glob(os.path.join(source, "doc", "*.md")))
    failures = check_links(documents, source)
    groups = []
    for path in documents:
        found, problems = markdown_groups(path, os.path.relpath(path, source))
        groups += found
        failures += problems
    for page in ("host/talveron.1", "python/talveron-dask.1"):
        groups += manual_groups(os.path.join(source, page), page)

    # talveron-dask's local cluster (--local, or no --scheduler) runs on
    # this machine alone; it needs Dask's distributed.
    dask_missing = None
    if not args.talveron_dask or not os.path.exists(args.talveron_dask):
        dask_missing = "talveron-dask was not built"
    elif subprocess.run([sys.executable, "-c", "import distributed"], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode != 0:
        dask_missing = "Python's distributed (python3-distributed) is not installed"

    counts = {"run": 0, "skipped": 0}
    with tempfile.TemporaryDirectory(prefix="talveron-docs-bin-") as bin_dir:
        os.symlink(os.path.abspath(args.talveron), os.path.join(bin_dir, "talveron"))
        if args.talveron_dask and not dask_missing:
            os.symlink(os.path.abspath(args.talveron_dask), os.path.join(bin_dir, "talveron-dask"))
        for group in groups:
            runnable = []
            for command in group:
                why = skip_reason(command)
                if why is None and dask_missing and re.search(r"\btalveron-dask\b", command.text):
                    why = dask_missing
                if why:
                    counts["skipped"] += 1
                    print(f"skip {command.where()}: {command.text}  ({why})")
                else:
                    runnable.append(command)
            if runnable:
                run_group(runnable, source, bin_dir, failures, counts)
    if args.compiler and args.library:
        c_example(source, args.compiler, args.library, failures)

    print(f"{counts['run']} commands run, {counts['skipped']} left out")
    if counts["run"] == 0:
        failures.append("no command was found to run")
    for failure in failures:
        print("FAIL " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
