"""talveron-dask end to end: its records, diagnostics and exit status against
those of one talveron process, on a tree of pages the tests write, through
one local cluster of two worker processes shared by the tests.

    TALVERON=build/talveron python3 -m unittest -v test_talveron_dask

TALVERON names the talveron program; TALVERON_DASK_PYTHONPATH the directory
that holds the package (by default the parent of this one);
TALVERON_DASK_LAUNCHER the launcher of the build tree (build/python/talveron-dask);
TALVERON_PAGES_DIR, when set, a folder of real pages to compare over as well.
The workers of the tests' cluster cannot import talveron_dask (it is not on
their path): the code they run has to come with the tasks.
"""
import gzip
import json
import os
import random
import re
import select
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest
import warnings

os.environ.setdefault("DASK_LOGGING__DISTRIBUTED", "critical")
warnings.filterwarnings("ignore", category=DeprecationWarning)

HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE_PARENT = os.environ.get("TALVERON_DASK_PYTHONPATH") or os.path.dirname(HERE)
TALVERON = os.path.abspath(os.environ.get("TALVERON") or os.path.join(HERE, "..", "..", "build", "talveron"))
RUN_TIMEOUT = 90
GONE_TIMEOUT = 30  # how long a process may take to end, before the test calls it an orphan
BATCH = "8K"  # the pages of the tree come to some 400 kB: some fifty batches

cluster = None
client = None
root = None


def setUpModule():
    global cluster, client, root
    if not os.access(TALVERON, os.X_OK):
        raise unittest.SkipTest(f"no talveron program at {TALVERON}: set TALVERON")
    import logging

    from distributed import Client, LocalCluster
    root = tempfile.mkdtemp(prefix="talveron-dask-test-")
    write_tree(os.path.join(root, "tree"))
    write_fakes(root)
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                           local_directory=os.path.join(root, "scratch"), silence_logs=logging.CRITICAL)
    client = Client(cluster)
    client.wait_for_workers(2)


def tearDownModule():
    if client is not None:
        client.close()
    if cluster is not None:
        cluster.close()
    if root is not None:
        shutil.rmtree(root, ignore_errors=True)


def anchor(rng, keywords=("ads", "track")):
    kind = rng.random()
    host = f"host{rng.randrange(50)}.jp"
    if kind < 0.1:
        address = f"http://{host}/{rng.choice(keywords)}/{rng.randrange(1000)}"
    elif kind < 0.13:
        address = f"http://{host}/" + "x" * rng.randrange(480, 560)
    elif kind < 0.16:
        address = f"http://{host}/caf\xc3\xa9\x01/"
    else:
        address = f"http://{host}/p{rng.randrange(10000)}" + rng.choice(["", ".html", ".HTM", "/", "/i.htm"])
    opening = rng.choice(['<a href="', '<A HREF="', '<a HrEf="', '<<a href="', '<a  href="'])
    return f'{opening}{address}">link</a>'


def page(rng, size):
    parts, n = [], 0
    while n < size:
        part = anchor(rng) if rng.random() < 0.3 else "<p>" + "words " * rng.randrange(1, 30) + "</p>\n"
        parts.append(part)
        n += len(part)
    return "".join(parts).encode("latin-1")


def write_tree(top):
    """Nested folders of pages: many small ones, a few large ones, names in
    any case, files that are not pages, links the walk passes over, an empty
    page and one that ends inside an address."""
    rng = random.Random(20240601)
    folders = ["a", "a/b", "a/b/c", "a/d", "m", "m/N", "z", "z/y/x/w"]
    for folder in folders:
        os.makedirs(os.path.join(top, folder))
    os.makedirs(os.path.join(top, "empty"))
    for i in range(360):
        folder = folders[i % len(folders)]
        name = f"p{i:03d}" + rng.choice([".html", ".htm", ".HTML", ".Htm", ".txt", ".css", ".html.bak", ""])
        with open(os.path.join(top, folder, name), "wb") as f:
            f.write(page(rng, rng.randrange(100, 3000)))
    for i, size in enumerate((60_000, 150_000, 90_000)):
        with open(os.path.join(top, folders[i * 2], f"large{i}.html"), "wb") as f:
            f.write(page(rng, size))
    # A crawl's web archive, plain and compressed record by record.
    os.makedirs(os.path.join(top, "crawl"))
    records = []
    for i in range(20):
        body = b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + page(rng, rng.randrange(100, 3000))
        records.append(b"WARC/1.0\r\nWARC-Type: response\r\nWARC-Target-URI: <http://crawl.jp/%d>\r\n"
                       b"Content-Length: %d\r\n\r\n%s\r\n\r\n" % (i, len(body), body))
    with open(os.path.join(top, "crawl", "c.warc"), "wb") as f:
        f.write(b"".join(records))
    with open(os.path.join(top, "crawl", "c.warc.gz"), "wb") as f:
        f.write(b"".join(gzip.compress(record) for record in records))
    open(os.path.join(top, "m", "zero.html"), "wb").close()
    with open(os.path.join(top, "z", "unfinished.html"), "wb") as f:
        f.write(b'<a href="http://done.jp/">x</a> <a href="http://never-closed.jp/')
    with open(os.path.join(top, "m", "none.html"), "wb") as f:
        f.write(b"<p>no anchor here</p>\n")
    os.symlink("../a/p000.html", os.path.join(top, "m", "link.html"))
    os.symlink("../a", os.path.join(top, "z", "loop"))


def write_fakes(top):
    """Stand-ins for talveron that list inputs with the real one: `sleeper`
    writes its process id to pids/ and sleeps instead of searching (the
    process a worker started, found by the tests); `silent` exits 2 with its
    summary but no diagnostic; `failing` searches nothing and exits 2 with a
    diagnostic; `slow` searches after a second and a half."""
    os.makedirs(os.path.join(top, "pids"))
    scripts = {
        "sleeper": f'echo $$ > "{top}/pids/$$.tmp" && mv "{top}/pids/$$.tmp" "{top}/pids/$$"\nexec sleep 300\n',
        "silent": f'"{TALVERON}" "$@" >/dev/null\nexit 2\n',
        "failing": 'echo "talveron: out of memory" >&2\nexit 2\n',
        "slow": f'sleep 1.5\nexec "{TALVERON}" "$@"\n',
    }
    for name, body in scripts.items():
        path = os.path.join(top, name)
        with open(path, "w") as f:
            f.write(f'#!/bin/sh\nfor a in "$@"; do [ "$a" = --list-inputs ] && exec "{TALVERON}" "$@"; done\n{body}')
        os.chmod(path, 0o755)


WATCHER = """\
import os
import sys
import tempfile
import time

TALVERON, DIRECTORY = {talveron!r}, {directory!r}
args = sys.argv[1:]
if "--list-inputs" not in args:
    if "--" in args:  # a batch of one input, named as an operand
        first = os.fsencode(args[args.index("--") + 1])
    else:
        names = sys.stdin.buffer.read()
        first = names.split(b"\\0")[0]
        given = tempfile.TemporaryFile()
        given.write(names)
        given.seek(0)
        os.dup2(given.fileno(), 0)
    fd = os.open(os.path.join(DIRECTORY, "attempts"), os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    os.write(fd, first + b"\\n")
    os.close(fd)
    with open(os.path.join(DIRECTORY, "watched"), "rb") as f:
        watched = f.read()
    with open(os.path.join(DIRECTORY, "pauses")) as f:
        pauses = int(f.read())
    for n in range(1, 100) if first == watched else ():
        try:
            os.close(os.open(os.path.join(DIRECTORY, f"claimed-{{n}}"), os.O_CREAT | os.O_EXCL | os.O_WRONLY))
        except FileExistsError:
            continue
        with open(os.path.join(DIRECTORY, f"pid-{{n}}.tmp"), "w") as f:
            f.write(f"{{os.getppid()}}\\n")
        os.rename(os.path.join(DIRECTORY, f"pid-{{n}}.tmp"), os.path.join(DIRECTORY, f"pid-{{n}}"))
        if n <= pauses:
            time.sleep(60)  # until the test kills the worker, and this with it
        break
os.execv(TALVERON, [TALVERON] + args)
"""


def write_watcher(directory, watched, pauses):
    """A stand-in for talveron in `directory` that runs the real one and
    tells the test what it ran: each run adds the first name of its batch to
    DIRECTORY/attempts; each run of the batch whose first name is `watched`
    writes the process id of the worker that started it to DIRECTORY/pid-N
    (N: 1 for its first run, then 2...), and the first `pauses` of those
    sleep instead of searching, so that the test can kill that worker in the
    middle of the batch. Returns its path."""
    with open(os.path.join(directory, "watched"), "wb") as f:
        f.write(watched)
    with open(os.path.join(directory, "pauses"), "w") as f:
        f.write(f"{pauses}\n")
    path = os.path.join(directory, "talveron")
    with open(path, "w") as f:
        f.write(f"#!{sys.executable}\n" + WATCHER.format(talveron=TALVERON, directory=directory))
    os.chmod(path, 0o755)
    return path


CUTTER = """\
import os
import signal
import subprocess
import sys

TALVERON, WATCHED, HOW, AT, SHIM = {talveron!r}, {watched!r}, {how!r}, {at!r}, {shim!r}
args = sys.argv[1:]
if "--list-inputs" in args or "--" not in args or os.fsencode(args[args.index("--") + 1]) != WATCHED:
    os.execv(TALVERON, [TALVERON] + args)
if HOW == "kill":
    # Dies by a signal when AT bytes of its records are out, before its summary.
    out = subprocess.run([TALVERON] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
    os.write(1, out[:AT])
    os.kill(os.getpid(), signal.SIGKILL)
# A full disk: the file of its records has room for AT bytes, and so has
# any other file beside it -- none.
out = os.readlink("/proc/self/fd/1")
if os.path.dirname(os.readlink("/proc/self/fd/2").replace(" (deleted)", "")) == os.path.dirname(out):
    os.dup2(os.open("/dev/full", os.O_WRONLY), 2)
os.execve(TALVERON, [TALVERON] + args, dict(os.environ, LD_PRELOAD=SHIM, SHIM_DISK_FREE=f"{{out}}:{{AT}}"))
"""


def write_cutter(directory, watched, how, at):
    """A stand-in for talveron that runs the real one, but for the batch of
    the lone input `watched` dies part-way through its records: `how`
    "kill" is a signal when `at` bytes are out; "disk" a scratch disk that
    has room for `at` bytes of them and nothing else."""
    path = os.path.join(directory, f"talveron-{how}-{at}")
    with open(path, "w") as f:
        f.write(f"#!{sys.executable}\n" + CUTTER.format(talveron=TALVERON, watched=watched, how=how, at=at,
                                                        shim=os.environ.get("TALVERON_SHIM", "")))
    os.chmod(path, 0o755)
    return path


def attempts_of(directory):
    """The first names of the batches run, once for each run."""
    with open(os.path.join(directory, "attempts"), "rb") as f:
        return f.read().splitlines()


def talveron(*args, cwd=None):
    done = subprocess.run([TALVERON] + list(args), cwd=cwd or root, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    return done.returncode, done.stdout, done.stderr


def dask_command(args, local=None, scheduler=True, talveron_path=TALVERON):
    where = ["--local", str(local)] if local else ["--scheduler", cluster.scheduler_address] if scheduler else []
    return [sys.executable, "-m", "talveron_dask"] + where + ["--talveron", talveron_path] + list(args)


def dask_env(extra=None):
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
    env.update(extra or {})
    return env


def talveron_dask(*args, local=None, scheduler=True, cwd=None, talveron_path=TALVERON, **popen):
    popen.setdefault("stdout", subprocess.PIPE)
    popen.setdefault("stderr", subprocess.PIPE)
    done = subprocess.run(dask_command(args, local, scheduler, talveron_path), cwd=cwd or root, env=dask_env(),
                          stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT, **popen)
    return done.returncode, done.stdout, done.stderr


def summary(stderr):
    """The figures of --stats: label: value (numbers as ints)."""
    figures = {}
    for line in stderr.decode("utf-8", "replace").splitlines():
        m = re.match(r"(talveron|talveron-dask): (\S.*?)  +(\S.*)$", line)
        if m:
            value = m.group(3)
            figures[m.group(2)] = int(value.replace(",", "")) if re.fullmatch(r"[0-9,]+", value) else value
    return figures


def alive(pid):
    """Whether process `pid` runs (a zombie has ended)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def parent_of(pid):
    with open(f"/proc/{pid}/stat") as f:
        return int(f.read().rsplit(")", 1)[1].split()[1])


def wait_until(test, what, timeout=GONE_TIMEOUT):
    deadline = time.monotonic() + timeout
    while not test():
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not after {timeout} s")
        time.sleep(0.05)


def read_outputs(folder):
    """The standard output and error a run left in FOLDER/out and FOLDER/err."""
    with open(os.path.join(folder, "out"), "rb") as f:
        out = f.read()
    with open(os.path.join(folder, "err"), "rb") as f:
        return out, f.read()


class Same(unittest.TestCase):
    def assertSame(self, dask_run, talveron_run, status=0, stderr_too=True):
        code, out, err = dask_run
        self.assertEqual(code, status, err.decode(errors="replace"))
        self.assertEqual(talveron_run[0], status, talveron_run[2])
        self.assertEqual(out, talveron_run[1])
        if stderr_too:
            self.assertEqual(err, talveron_run[2])


class TreeTest(Same):
    def test_tree_gives_the_records_of_one_process(self):
        expected = talveron("tree")
        self.assertGreater(len(expected[1]), 10000)
        self.assertSame(talveron_dask("--batch-bytes", BATCH, "tree"), expected)

    def test_options_mean_what_they_mean_to_talveron(self):
        with open(os.path.join(root, "names0"), "wb") as f:
            f.write(b"tree/a/large0.html\0tree/m\0tree/m/none.html\0")
        cases = [
            (["-x", "ads", "-x", "", "-x", "track"], ["tree"]),
            (["-c"], ["tree"]),
            (["-l", "-Z"], ["tree"]),
            (["-L"], ["tree"]),
            (["--crlf", "-o"], ["tree/a"]),
            (["--https"], ["tree"]),
            (["-z"], ["tree"]),
            (["--tsv"], ["tree"]),
            (["--tsv"], ["tree/a/large0.html"]),
            ([], ["tree/crawl/c.warc"]),
            (["-z", "-c"], ["tree/crawl"]),
            (["-z", "-c", "--archive-names"], ["tree/crawl"]),
            (["-z", "-h", "--https"], ["tree/crawl/c.warc.gz"]),
            (["-z", "--html", "--tsv"], ["tree"]),
            (["--html", "--base=http://h.example/d/", "--max-address=1K"], ["tree/a/large0.html", "tree/m/none.html"]),
            (["-i", "-x", "ADS", "-x", "Track", "--color"], ["tree"]),
            (["--colour=never", "-N", "-a", "-uu", "--hidden", "--no-ignore", "-g", "!p0*", "-g*.HTML"], ["tree"]),
            (["-h"], ["tree"]),
            (["-H"], ["tree/a/large0.html"]),
            ([], ["tree/a/large0.html"]),
            (["--include=*.txt", "--include=*.CSS"], ["tree"]),
            (["--exclude=p0*", "--exclude-dir=b"], ["tree"]),
            (["--all-files"], ["tree/a"]),
            (["-R", "-r"], ["tree/z"]),
            (["--files0-from=names0"], ["tree/z/unfinished.html"]),
            (["-q"], ["tree"]),
            (["-s"], ["tree/m", "missing.html"]),
            (["--exclude-k", "ads", "--cou", "--exclude-d=b"], ["tree"]),
            (["--json", "-x", "ads"], ["tree"]),
            (["-z", "--html", "--json", "--links=a,area,redirect", "--unique", "--no-fragment", "--status=200-299"],
             ["tree/crawl"]),
            (["--html", "--links=all", "--unique", "-c"], ["tree/a"]),
        ]
        for options, inputs in cases:
            with self.subTest(options=options):
                expected = talveron(*options, *inputs)
                self.assertEqual(expected[0], 2 if "missing.html" in inputs else 0, expected[2])
                self.assertSame(talveron_dask("--batch-bytes", BATCH, *options, *inputs), expected,
                                status=expected[0])

    def test_base_of_a_directory_is_refused_not_given_to_every_page(self):
        # talveron gives each page of a directory its own address below URL;
        # a batch, handed the pages by name, would give them all URL.
        site = os.path.join(root, "site")
        os.makedirs(os.path.join(site, "s"), exist_ok=True)
        for name in ("q.html", "s/p.html"):
            with open(os.path.join(site, name), "wb") as f:
                f.write(b'<a href="x.html">x</a><a href="">here</a><a href="#top">top</a>')
        with open(os.path.join(root, "site0"), "wb") as f:
            f.write(b"site/q.html\0site\0")
        base = ["--html", "--base=http://h.example/d"]
        walked = talveron(*base, "site")
        named = talveron(*base, "site/q.html", "site/s/p.html")
        self.assertEqual(walked[0], 0)
        self.assertNotEqual(walked[1], named[1])
        for inputs in (["site"], ["site/q.html", "site/s"], ["--files0-from=site0"]):
            with self.subTest(inputs=inputs):
                code, out, err = talveron_dask(*base, *inputs)
                self.assertEqual((code, out), (2, b""), err)
                self.assertIn(b"talveron-dask: --base with a directory INPUT", err)
        # Pages named have URL itself, in either.
        self.assertSame(talveron_dask("--batch-bytes", "1", *base, "site/q.html", "site/s/p.html"), named)

    def test_exit_status_one_when_no_record(self):
        for options in ([], ["-c"]):
            expected = talveron(*options, "tree/m/none.html", "tree/m/zero.html")
            self.assertSame(talveron_dask(*options, "tree/m/none.html", "tree/m/zero.html"), expected, status=1)
        # Pages of https links alone: the hint, once, of all the batches' counts.
        with open(os.path.join(root, "secure.html"), "wb") as f:
            f.write(b'<a href="https://a.jp/">' * 3)
        code, out, err = talveron_dask("--batch-bytes", "1", "secure.html", "tree/m/none.html", "secure.html")
        expected = talveron("secure.html", "tree/m/none.html", "secure.html")
        self.assertIn(b"talveron: nothing found, but 6 <a", expected[2])
        self.assertEqual((code, out, err), (1, b"", expected[2].replace(b"talveron: ", b"talveron-dask: ")))
        for quiet in ("-s", "-q"):
            self.assertEqual(talveron_dask(quiet, "--batch-bytes", "1", "secure.html"), (1, b"", b""))

    def test_list_inputs_and_a_walk_that_leaves_everything_out(self):
        self.assertSame(talveron_dask("--list-inputs", "--exclude-dir=b", "tree"),
                        talveron("--list-inputs", "--exclude-dir=b", "tree"))
        # Nothing to search: talveron's message of why, and status 1.
        expected = talveron("--include=*.none", "tree")
        self.assertEqual(expected[0], 1)
        self.assertIn(b"no files were searched", expected[2])
        self.assertSame(talveron_dask("--include=*.none", "tree"), expected, status=1)

    def test_a_directory_whose_read_fails_is_named_and_the_walk_goes_on(self):
        shim = os.environ.get("TALVERON_SHIM")
        if not shim:
            self.skipTest("TALVERON_SHIM names no file system shim")
        failing = os.path.join(root, "failing-readdir")
        with open(failing, "w") as f:
            f.write(f'#!/bin/sh\nLD_PRELOAD="{shim}" SHIM_READDIR_EIO=tree/a/b:7 exec "{TALVERON}" "$@"\n')
        os.chmod(failing, 0o755)
        expected = subprocess.run([failing, "tree"], cwd=root, stdin=subprocess.DEVNULL, capture_output=True)
        self.assertIn(b"talveron: tree/a/b: Input/output error", expected.stderr)
        self.assertSame(talveron_dask("--batch-bytes", BATCH, "tree", talveron_path=failing),
                        (expected.returncode, expected.stdout, expected.stderr), status=2)

    def test_keywords_and_an_output_file(self):
        keywords = ["-x", "ads", "-x", "", "-x", "track"]
        out_dir = os.path.join(root, "out-keywords")
        os.makedirs(out_dir)
        target = os.path.join(out_dir, "records.txt")
        with open(target, "wb") as f:
            f.write(b"old\n")
        code, out, err = talveron_dask("--batch-bytes", BATCH, *keywords, "-O", target, "tree")
        self.assertEqual((code, out, err), (0, b"", b""))
        expected = talveron(*keywords, "tree")
        with open(target, "rb") as f:
            self.assertEqual(f.read(), expected[1])
        self.assertEqual(os.listdir(out_dir), ["records.txt"])

    def test_an_output_file_by_talverons_rules(self):
        # One rule in both programs: a FILE with another hard link is
        # written into (the other link sees the new records, and nothing of
        # a longer old FILE is left); a new FILE takes the mode the umask
        # leaves; -O - is standard output.
        expected = talveron("tree/a")[1]
        out_dir = os.path.join(root, "out-rules")
        os.makedirs(out_dir)
        target, other = os.path.join(out_dir, "records.txt"), os.path.join(out_dir, "other.txt")
        with open(target, "wb") as f:
            f.write(b"o" * (len(expected) + 1000))
        os.link(target, other)
        self.assertEqual(talveron_dask("-O", target, "tree/a")[0], 0)
        with open(other, "rb") as f:
            self.assertEqual(f.read(), expected)
        os.unlink(target)
        os.unlink(other)
        done = subprocess.run(dask_command(["-O", target, "tree/a"]), cwd=root, env=dask_env(), capture_output=True,
                              stdin=subprocess.DEVNULL, timeout=RUN_TIMEOUT, preexec_fn=lambda: os.umask(0o027))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o640)
        self.assertEqual(sorted(os.listdir(out_dir)), ["records.txt"])
        self.assertEqual(talveron_dask("-O", "-", "tree/a")[:2], (0, expected))

    def test_stats_are_the_tools_summed(self):
        code, _, err = talveron_dask("--batch-bytes", BATCH, "--stats", "-x", "ads", "tree")
        self.assertEqual(code, 0, err)
        ours = summary(err)
        theirs = summary(talveron("--stats", "-x", "ads", "tree")[2])
        for label in ("inputs searched", "inputs failed", "bytes", "records written", "excluded by keyword 1",
                      "dropped as too long", "dropped as unfinished"):
            self.assertEqual(ours[label], theirs[label], label)
        self.assertGreater(ours["records written"], 1000)
        self.assertGreaterEqual(ours["batches"], 30)
        self.assertEqual(ours["workers"], 2)
        self.assertEqual(ours["batches retried"], 0)
        self.assertRegex(err.decode(), r"talveron-dask: throughput +[0-9.]+ MB/s\n")
        # Archives and their records, and the https anchors passed over.
        with open(os.path.join(root, "secure2.html"), "wb") as f:
            f.write(b'<a href="https://a.jp/">' * 3)
        ours = summary(talveron_dask("--batch-bytes", "1", "--stats", "-z", "tree/crawl", "secure2.html", "tree/a")[2])
        theirs = summary(talveron("--stats", "-z", "tree/crawl", "secure2.html", "tree/a")[2])
        self.assertGreater(theirs["archives searched"], 1)
        self.assertGreater(int(theirs["https passed over"].split()[0].replace(",", "")), 0)
        for label in ("archives searched", "records searched", "https passed over"):
            self.assertEqual(ours[label], theirs[label], label)

    def test_stats_json_and_the_hint_are_talverons(self):
        # --stats and --stats=json: talveron's figures summed (those of an
        # archive cut part way too: records searched, no archive whole),
        # keywords shown as talveron shows them; the JSON object holds
        # talveron's keys in its order, then the cluster's.
        directory = tempfile.mkdtemp(dir=root)
        members = [gzip.compress(b"WARC/1.0\r\nWARC-Type: response\r\nWARC-Target-URI: <http://w.jp/%d>\r\n"
                                 b"Content-Length: 28\r\n\r\n<a href=\"http://w.jp/%d/\">\r\n\r\n" % (i, i))
                   for i in range(4)]
        with open(os.path.join(directory, "cut.warc.gz"), "wb") as f:
            f.write(b"".join(members[:3]) + members[3][:len(members[3]) // 2])
        for name, body in (("a.html", b'<a href="http://a.jp/">'), ("s.html", b'<a href="https://s.jp/">' * 2),
                           ("r.html", b'<a href="r.html">r</a> <a href="https://s.jp/">s</a>')):
            with open(os.path.join(directory, name), "wb") as f:
                f.write(body)
        args = ["-x", "caf\xe9", "-x", "ads", "cut.warc.gz", "s.html", "cut.warc.gz"]
        theirs = talveron("--stats", *args, cwd=directory)
        self.assertEqual((theirs[0], summary(theirs[2])["archives searched"]), (2, 0), theirs[2])
        ours = talveron_dask("--batch-bytes", "1", "--stats", *args, cwd=directory)
        self.assertEqual(ours[:2], theirs[:2])
        ours, theirs = summary(ours[2]), summary(theirs[2])
        self.assertEqual({k: v for k, v in ours.items() if k in theirs and k not in ("elapsed", "throughput")},
                         {k: v for k, v in theirs.items() if k not in ("elapsed", "throughput")})
        theirs = talveron("--stats=json", *args, cwd=directory)
        ours = talveron_dask("--batch-bytes", "1", "--stats=json", *args, cwd=directory)
        self.assertEqual(ours[:2], theirs[:2])
        said, line = ours[2].rsplit(b"\n", 2)[:2]
        self.assertEqual(said + b"\n", theirs[2].rsplit(b"\n", 2)[0] + b"\n")
        ours, theirs = json.loads(line), json.loads(theirs[2].rsplit(b"\n", 2)[1])
        for figures in (ours, theirs):
            figures.pop("elapsed_seconds")
        self.assertEqual(list(ours)[:len(theirs)], list(theirs))
        self.assertEqual({k: ours[k] for k in theirs}, theirs)
        self.assertEqual(list(ours)[len(theirs):],
                         ["workers", "batches", "batches_retried", "search_seconds", "connect_seconds"])
        self.assertEqual((ours["batches"], ours["workers"]), (3, 2))
        # The hints, as talveron's: https anchors passed over (when nothing
        # was found: not after a record of a batch that also failed), file:
        # links without --base; none with --stats=json.
        for options, inputs in (([], ["a.html", "missing.html", "s.html"]),
                                (["--html"], ["r.html", "missing.html", "s.html"]),
                                (["--stats"], ["s.html", "a.html", "missing.html"]),
                                (["-l"], ["a.html", "missing.html", "s.html"]),
                                (["-L"], ["a.html", "missing.html", "s.html"]),
                                (["-L"], ["missing.html", "s.html"]),
                                ([], ["missing.html", "s.html"])):
            with self.subTest(options=options, inputs=inputs):
                expected = talveron(*options, *inputs, cwd=directory)
                hints = re.sub(rb"(?m)^talveron: (?=nothing found|at least|\d+ <a|\d+ link\(s\) resolved)",
                               b"talveron-dask: ", expected[2])
                ours = talveron_dask(*options, *inputs, cwd=directory)
                if "--stats" in options:
                    self.assertSame(ours, expected, status=2, stderr_too=False)
                    self.assertIn(b"talveron-dask: 2 <a href=", ours[2])
                    continue
                self.assertSame(ours, expected[:2] + (hints,), status=2)
        # Responses passed over for their status, summed over the batches.
        theirs = json.loads(talveron("--stats=json", "--status=300-399", "-z", "tree/crawl")[2])
        code, out, err = talveron_dask("--batch-bytes", "1", "--stats=json", "--status=300-399", "-z", "tree/crawl")
        self.assertEqual((code, json.loads(err)["statuses_passed_over"]), (1, theirs["statuses_passed_over"]))
        self.assertEqual(theirs["statuses_passed_over"], [{"status": 200, "count": 40}])
        code, out, err = talveron_dask("--stats=json", "s.html", cwd=directory)
        self.assertEqual((code, out), (1, b""))
        self.assertEqual(json.loads(err)["https_passed_over"], 2)
        self.assertEqual(talveron("--stats=json", "s.html", cwd=directory)[2].count(b"\n"), 1)

    def test_a_missing_input_in_the_middle(self):
        inputs = ["tree/a", "missing.html", "tree/z"]
        self.assertSame(talveron_dask("--batch-bytes", BATCH, *inputs), talveron(*inputs), status=2)
        # --output: FILE is written all the same, and the status is 2;
        # with --all-or-nothing it stays as it was, and nothing is left beside it.
        out_dir = os.path.join(root, "out-missing")
        os.makedirs(out_dir)
        target = os.path.join(out_dir, "records.txt")
        for extra, expected in (([], talveron(*inputs)[1]), (["--all-or-nothing"], b"old\n")):
            with open(target, "wb") as f:
                f.write(b"old\n")
            code, out, err = talveron_dask("--batch-bytes", BATCH, "-O", target, *extra, *inputs)
            self.assertEqual((code, out), (2, b""))
            self.assertIn(b"talveron: missing.html: No such file or directory\n", err)
            self.assertEqual(b"left unchanged" in err, bool(extra), err)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), expected)
            self.assertEqual(os.listdir(out_dir), ["records.txt"])

    def test_the_output_file_among_the_inputs(self):
        # Standard output into a page of the tree (the shell makes the file
        # before the run lists it), and --output FILE naming one: talveron
        # turns it down by name, and so must the batches.
        shutil.copytree(os.path.join(root, "tree", "a"), os.path.join(root, "own"), symlinks=True)
        name = "own/b/zz.html"
        runs = []
        for command in (dask_command(["--batch-bytes", "4K", "own"]), [TALVERON, "own"]):
            with open(os.path.join(root, name), "wb") as out:
                done = subprocess.run(command, cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            with open(os.path.join(root, name), "rb") as f:
                runs.append((done.returncode, f.read(), done.stderr))
            os.unlink(os.path.join(root, name))
        self.assertEqual(runs[0], runs[1])
        self.assertEqual(runs[1][0], 2)
        self.assertIn(name.encode(), runs[1][2])
        self.assertGreater(len(runs[1][1]), 0)
        page_bytes = b'<a href="http://zz.jp/">'
        results = []
        for command in (dask_command(["--batch-bytes", "4K", "-O", name, "own"]), [TALVERON, "-O", name, "own"]):
            with open(os.path.join(root, name), "wb") as f:
                f.write(page_bytes)
            done = subprocess.run(command, cwd=root, env=dask_env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            results.append((done.returncode, done.stdout, done.stderr.replace(b"talveron-dask: ", b"talveron: ")))
            with open(os.path.join(root, name), "rb") as f:
                self.assertEqual(f.read(), page_bytes)
            self.assertEqual(sorted(os.listdir(os.path.join(root, "own", "b"))),
                             sorted(os.listdir(os.path.join(root, "tree", "a", "b"))) + ["zz.html"])
        self.assertEqual(results[0], results[1])
        self.assertEqual(results[1][0], 2)

    def test_real_pages(self):
        pages = os.environ.get("TALVERON_PAGES_DIR")
        if not pages:
            self.skipTest("TALVERON_PAGES_DIR is not set: no real pages to compare over")
        pages = os.path.abspath(pages)
        ours, theirs = talveron_dask("--batch-bytes", "4M", pages), talveron(pages)
        # The https anchors passed over: the batches count them all, where
        # talveron counts a page's up to its first record ("at least").
        hint = rb"(?m)^talveron(?:-dask)?: at least (\d+) <a href=.*\n"
        counts = [int(m.group(1)) for m in (re.search(hint, run[2]) for run in (ours, theirs)) if m]
        self.assertTrue(len(counts) != 1 and counts == sorted(counts, reverse=True), (ours[2], theirs[2]))
        self.assertSame(ours[:2] + (re.sub(hint, b"", ours[2]),), theirs[:2] + (re.sub(hint, b"", theirs[2]),))

    def test_large_records_stream_in_chunks(self):
        # A page whose records pass the size that comes back with a batch's
        # result: they are read from the worker in several chunks.
        path = os.path.join(root, "dense.html")
        with open(path, "w") as f:
            f.write("".join(f'<a href="http://dense{i % 97}.jp/{i}">' for i in range(300_000)))
        expected = talveron("-H", "dense.html", "tree/a/b")
        self.assertGreater(len(expected[1]), 9 << 20)
        self.assertSame(talveron_dask("--batch-bytes", "64K", "-H", "dense.html", "tree/a/b"), expected)


class ClusterTest(Same):
    def test_one_worker_per_core_without_scheduler_or_local(self):
        code, out, err = talveron_dask("--stats", "--batch-bytes", "64K", "-x", "track", "tree", scheduler=False)
        self.assertEqual((code, out), talveron("-x", "track", "tree")[:2], err)
        self.assertEqual(summary(err)["workers"], len(os.sched_getaffinity(0)))
        self.assertIn("cluster start", summary(err))

    def test_a_worker_killed_twice_in_the_middle_of_a_batch(self):
        # Batch 0 is paused in its first two attempts and the worker running
        # it killed each time: it counts as one batch retried, as does each
        # batch whose result was lost with a worker and computed again.
        pause = tempfile.mkdtemp(dir=root)
        first = talveron("--list-inputs", "tree")[1].split(b"\0")[0]
        watcher = write_watcher(pause, first, pauses=2)
        with open(os.path.join(pause, "out"), "wb") as out, open(os.path.join(pause, "err"), "wb") as err:
            run = subprocess.Popen(dask_command(["--batch-bytes", BATCH, "--stats", "tree"], talveron_path=watcher),
                                   cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                for n in (1, 2):
                    pid_file = os.path.join(pause, f"pid-{n}")
                    wait_until(lambda: os.path.exists(pid_file) or run.poll() is not None, f"attempt {n} of batch 0")
                    self.assertIsNone(run.poll(), "talveron-dask ended before batch 0 ran again")
                    with open(pid_file) as f:
                        pid = int(f.read())
                    self.assertNotEqual(pid, os.getpid())
                    os.kill(pid, signal.SIGKILL)
                status = run.wait(timeout=RUN_TIMEOUT)
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
        out, err = read_outputs(pause)
        self.assertEqual(status, 0, err)
        self.assertEqual(out, talveron("tree")[1])
        figures = summary(err)
        attempts = attempts_of(pause)
        self.assertEqual(attempts.count(first), 3)
        self.assertEqual(figures["batches retried"], len({i for i in attempts if attempts.count(i) > 1}), err)
        self.assertEqual(figures["inputs searched"], summary(talveron("--stats", "tree")[2])["inputs searched"])
        client.wait_for_workers(2, timeout=60)  # the nanny starts new ones

    def test_a_worker_killed_while_its_records_are_read(self):
        # The first batch's records pass the size that comes back with its
        # result; the worker holding them is killed while the client writes
        # the first chunk (into a pipe this test stops reading). The batch
        # runs again elsewhere, and the rest is read from there: each record
        # once, the batch counted once among the retried (with any other
        # whose result the worker held).
        path = os.path.join(root, "dense2.html")
        with open(path, "w") as f:
            f.write("".join(f'<a href="http://dense{i % 89}.jp/{i}">' for i in range(200_000)))
        pause = tempfile.mkdtemp(dir=root)
        watcher = write_watcher(pause, b"dense2.html", pauses=0)
        with open(os.path.join(pause, "err"), "wb") as err:
            run = subprocess.Popen(dask_command(["--batch-bytes", "64K", "--stats", "dense2.html", "tree/a/b"],
                                                talveron_path=watcher),
                                   cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=err)
            try:
                # Its first byte: the client holds the first chunk of batch 0,
                # more than the pipe takes, and cannot ask for the next.
                wait_until(lambda: select.select([run.stdout], [], [], 0)[0], "the first record", RUN_TIMEOUT)
                out = run.stdout.read(1)
                self.assertEqual(len(out), 1, "talveron-dask ended before its records were read")
                with open(os.path.join(pause, "pid-1")) as f:
                    os.kill(int(f.read()), signal.SIGKILL)
                out += run.stdout.read()
                run.wait(timeout=RUN_TIMEOUT)
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
                run.stdout.close()
        with open(os.path.join(pause, "err"), "rb") as f:
            err = f.read()
        expected = talveron("-H", "dense2.html", "tree/a/b")
        self.assertEqual(run.returncode, 0, err)
        self.assertGreater(len(expected[1]), 6 << 20)
        self.assertEqual(out, expected[1])
        attempts = attempts_of(pause)
        self.assertEqual(attempts.count(b"dense2.html"), 2)
        # Each batch that ran twice is counted; so may be one whose result
        # the worker held and whose second attempt began (and was logged by
        # the cluster) but was cancelled at the run's end before its
        # talveron started, as happens on a loaded machine.
        figures = summary(err)
        twice = len({i for i in attempts if attempts.count(i) > 1})
        self.assertGreaterEqual(figures["batches retried"], twice, err)
        self.assertLessEqual(figures["batches retried"], figures["batches"], err)
        client.wait_for_workers(2, timeout=60)

    def test_no_talveron_outlives_its_worker_or_client(self):
        # Each worker runs a stand-in that sleeps. A worker killed takes its
        # process along; the client stopped by SIGTERM takes the rest.
        pids = os.path.join(root, "pids")
        run = subprocess.Popen(dask_command(["--batch-bytes", BATCH, "tree"], talveron_path=os.path.join(root, "sleeper")),
                               cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE)
        try:
            started = lambda: [int(n) for n in os.listdir(pids) if n.isdigit()]  # noqa: E731
            wait_until(lambda: len(started()) >= 2, "two batches running")
            first = started()[0]
            worker = parent_of(first)
            self.assertNotEqual(worker, run.pid)
            os.kill(worker, signal.SIGKILL)
            wait_until(lambda: not alive(first), f"process {first} of the killed worker {worker} ended")
            # The batch runs again on the new worker.
            wait_until(lambda: len(started()) >= 3, "the batch running again")
            run.send_signal(signal.SIGTERM)
            self.assertEqual(run.wait(timeout=RUN_TIMEOUT), -signal.SIGTERM)
            for pid in started():
                wait_until(lambda: not alive(pid), f"process {pid} ended with its client")
        finally:
            if run.poll() is None:
                run.kill()
            run.communicate()
            for n in os.listdir(pids):
                if n.isdigit() and alive(int(n)):
                    os.kill(int(n), signal.SIGKILL)
                os.unlink(os.path.join(pids, n))
            client.wait_for_workers(2, timeout=60)

    def test_interrupted_local_cluster_leaves_nothing(self):
        pids = os.path.join(root, "pids")
        scratch = tempfile.mkdtemp(dir=root)
        run = subprocess.Popen(dask_command(["--local", "1", "tree"], scheduler=False,
                                            talveron_path=os.path.join(root, "sleeper")),
                               cwd=root, env=dask_env({"TMPDIR": scratch}), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            started = lambda: [int(n) for n in os.listdir(pids) if n.isdigit()]  # noqa: E731
            wait_until(lambda: started(), "the batch running")
            self.assertTrue(os.listdir(scratch))
            run.send_signal(signal.SIGINT)
            self.assertEqual(run.wait(timeout=RUN_TIMEOUT), -signal.SIGINT)
            for pid in started():
                wait_until(lambda: not alive(pid), f"process {pid} ended with its client")
            self.assertEqual(os.listdir(scratch), [])
        finally:
            if run.poll() is None:
                run.kill()
            run.communicate()
            for n in os.listdir(pids):
                if n.isdigit() and alive(int(n)):
                    os.kill(int(n), signal.SIGKILL)
                os.unlink(os.path.join(pids, n))

    def test_an_unreachable_scheduler_fails_at_once(self):
        # A closed port fails at once, whatever --connect-timeout allows.
        started = time.monotonic()
        code, out, err = talveron_dask("--connect-timeout", "60", "--scheduler", "tcp://127.0.0.1:1", "tree",
                                       scheduler=False)
        self.assertLess(time.monotonic() - started, 30)
        self.assertEqual((code, out), (2, b""))
        self.assertIn(b"talveron-dask: cannot reach the scheduler at tcp://127.0.0.1:1: Connection refused", err)
        self.assertNotIn(b"Traceback", err)

    def test_a_batch_lost_with_its_scheduler_is_named_by_its_inputs(self):
        script = os.path.join(root, "scheduler.py")
        with open(script, "w") as f:
            f.write("import logging, time\nfrom distributed import LocalCluster\nif __name__ == '__main__':\n"
                    "    c = LocalCluster(n_workers=1, threads_per_worker=1, processes=True, dashboard_address=None,\n"
                    "                     silence_logs=logging.CRITICAL)\n"
                    "    print(c.scheduler_address, flush=True)\n    time.sleep(300)\n")
        # A stand-in that tells when its batch has begun, then waits: the
        # scheduler (and its worker, and the stand-in) is killed meanwhile.
        stalled, started = os.path.join(root, "stalled"), os.path.join(root, "stalled-started")
        with open(stalled, "w") as f:
            f.write(f'#!/bin/sh\nfor a in "$@"; do [ "$a" = --list-inputs ] && exec "{TALVERON}" "$@"; done\n'
                    f'touch "{started}"\nsleep 20\n')
        os.chmod(stalled, 0o755)
        own = subprocess.Popen([sys.executable, script], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               start_new_session=True)
        try:
            address = own.stdout.readline().decode().strip()
            run = subprocess.Popen(dask_command(["tree/a/b"], scheduler=False, talveron_path=stalled) +
                                   ["--scheduler", address],
                                   cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
            deadline = time.monotonic() + RUN_TIMEOUT
            while not os.path.exists(started) and time.monotonic() < deadline:
                time.sleep(0.1)
        finally:
            os.killpg(own.pid, signal.SIGKILL)
            own.wait()
            own.stdout.close()
        out, err = run.communicate(timeout=RUN_TIMEOUT)
        self.assertEqual(run.returncode, 2, err)
        self.assertRegex(err, rb"talveron-dask: batch 1 \(tree/a/b/\S+.*\): could not be done: it was lost with the "
                              rb"scheduler\n")

    def test_a_scheduler_without_workers_fails(self):
        import logging

        from distributed import LocalCluster
        with LocalCluster(n_workers=0, processes=True, dashboard_address=None,
                          silence_logs=logging.CRITICAL) as empty:
            code, out, err = talveron_dask("--wait-workers", "1", "--scheduler", empty.scheduler_address, "tree",
                                           scheduler=False)
        self.assertEqual((code, out), (2, b""))
        self.assertIn(b": no worker joined within 1 s (--wait-workers)", err)

    def test_a_batch_that_fails_without_a_diagnostic(self):
        code, out, err = talveron_dask("tree/a/b", talveron_path=os.path.join(root, "silent"))
        self.assertEqual(code, 2, err)
        self.assertRegex(err, rb"talveron-dask: batch 1 \(.*\): talveron exited with status 2 on .*, "
                              rb"without a diagnostic\n")

    def test_a_batch_cut_part_way_gives_only_whole_records(self):
        # The second of three batches dies part-way through a record, by a
        # signal or on a full scratch disk: its whole records are written,
        # the next batch's after them (never glued to a cut one), its
        # diagnostic is kept, and the status is 2; FILE is replaced with
        # those, unless --all-or-nothing.
        directory = tempfile.mkdtemp(dir=root)
        cut_name = "cut\nname.html"
        with open(os.path.join(directory, cut_name), "wb") as f:
            f.write(b"".join(b'<a href="http://cut.jp/%d">' % i for i in range(8)))
        for name in ("a.html", "b.html"):
            with open(os.path.join(directory, name), "wb") as f:
                f.write(b'<a href="http://%s.jp/">' % name.encode())
        inputs = ["a.html", cut_name, "b.html"]
        target = os.path.join(directory, "records.txt")
        cases = [  # how it dies, options, where in its fourth record it is cut (-1: before its
                   # last byte), what talveron-dask says
            ("kill", [], 5, rb"talveron-dask: batch 2 \(cut\nname.html\): talveron ended by signal 9 on \S+, "
                            rb"without its summary; its last record, cut, is left out\n"),
            ("kill", ["-Z"], 5, rb"signal 9 .*; its last record, cut, is left out\n"),
            ("kill", ["--crlf", "-Z", "-O", target], -1, rb"signal 9"),
            ("kill", ["-O", target, "--all-or-nothing"], 5, rb"left unchanged: not every input was searched"),
            ("kill", ["-l", "-Z"], 5, rb"signal 9 .*; its last record, cut, is left out\n"),
            ("disk", ["--tsv"], 9, rb"talveron: write error: No space left on device\n(.|\n)*"
                                   rb"talveron-dask: batch 2 \(cut\nname.html\): talveron did not finish on \S+; "
                                   rb"its last record, cut, is left out\n"),
            ("disk", ["-O", target, "--all-or-nothing"], 5, rb"left unchanged: not every input was searched"),
        ]
        if not os.environ.get("TALVERON_SHIM"):
            cases = [case for case in cases if case[0] != "disk"]
        for how, options, into, said in cases:
            with self.subTest(how=how, options=options):
                plain = [o for o in options if o not in ("-O", target, "--all-or-nothing")]
                whole = talveron(*plain, *inputs, cwd=directory)[1]
                own = talveron(*plain, "-H", cut_name, cwd=directory)[1]
                if "-l" in options:  # one record: the name
                    record, fourth = len(own), 0
                else:
                    record = own.index(b"http://cut.jp/1") - own.index(b"http://cut.jp/0")
                    fourth = 3 * record
                at = fourth + into % record
                self.assertTrue(0 < at < len(own))
                cutter = write_cutter(directory, cut_name.encode(), how, at)
                expected = whole.replace(own, own[:fourth])
                with open(target, "wb") as f:
                    f.write(b"old\n")
                code, out, err = talveron_dask("--batch-bytes", "1", *options, *inputs, cwd=directory,
                                               talveron_path=cutter)
                if "-O" in options:
                    with open(target, "rb") as f:
                        out = f.read()
                    if "--all-or-nothing" in options:
                        expected = b"old\n"
                self.assertEqual(out, expected)
                self.assertEqual(code, 2, err)
                self.assertRegex(err, said)

    def test_a_file_is_left_as_it_was_when_no_input_was_searched(self):
        target = os.path.join(root, "kept.txt")
        for command in ([TALVERON, "-O", target, "missing.html"],
                        dask_command(["-O", target, "tree/a/b"], talveron_path=os.path.join(root, "failing"))):
            with open(target, "wb") as f:
                f.write(b"old\n")
            done = subprocess.run(command, cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, capture_output=True,
                                  timeout=RUN_TIMEOUT)
            self.assertEqual(done.returncode, 2, done.stderr)
            self.assertIn(b"kept.txt: left unchanged: no input was searched\n", done.stderr)
            with open(target, "rb") as f:
                self.assertEqual(f.read(), b"old\n")

    def test_closed_standard_output_and_error(self):
        for closed, options, status, message in (
                ("stdout", [], 2, b"talveron-dask: standard output: Bad file descriptor\n"),
                ("stdout", ["-O", os.path.join(root, "closed-out.txt")], 0, b""),
                ("stderr", [], 0, None),
                ("stderr", ["--stats"], 2, None)):
            with self.subTest(closed=closed, options=options):
                keep = 2 if closed == "stdout" else 1
                command = dask_command(options + ["tree/a"])
                done = subprocess.run(["sh", "-c", f'"$@" {1 if closed == "stdout" else 2}>&-', "sh"] + command,
                                      cwd=root, env=dask_env(), stdin=subprocess.DEVNULL,
                                      **{"stderr" if keep == 2 else "stdout": subprocess.PIPE}, timeout=RUN_TIMEOUT)
                self.assertEqual(done.returncode, status)
                if message is not None:
                    self.assertEqual(done.stderr, message)
                else:
                    self.assertEqual(done.stdout, talveron("tree/a")[1] if not options else b"")

    def test_progress_line_on_a_terminal(self):
        # Standard error on a terminal: the progress line, unless
        # --no-progress, or standard output is that terminal too.
        import pty
        for options, same_terminal, shown in (([], False, True), (["--no-progress"], False, False),
                                              ([], True, False)):
            with self.subTest(options=options, same_terminal=same_terminal):
                master, slave = pty.openpty()
                try:
                    with open(os.path.join(root, "progress-out"), "wb") as out:
                        run = subprocess.Popen(dask_command(options + ["tree/a/b"],
                                                            talveron_path=os.path.join(root, "slow")),
                                               cwd=root, env=dask_env(), stdin=subprocess.DEVNULL,
                                               stdout=slave if same_terminal else out, stderr=slave)
                    os.close(slave)
                    seen = b""
                    while True:
                        try:
                            chunk = os.read(master, 65536)
                        except OSError:
                            break
                        if not chunk:
                            break
                        seen += chunk
                    self.assertEqual(run.wait(timeout=RUN_TIMEOUT), 0, seen)
                finally:
                    os.close(master)
                self.assertEqual(b"talveron-dask: 0 of 1 batches" in seen, shown, seen)

    def test_the_launcher_of_the_build_tree(self):
        launcher = os.environ.get("TALVERON_DASK_LAUNCHER")
        if not launcher:
            self.skipTest("TALVERON_DASK_LAUNCHER is not set")
        # Neither PYTHONPATH nor --talveron: it finds the package of the
        # source tree and the talveron built beside it.
        env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
        done = subprocess.run([launcher, "--scheduler", cluster.scheduler_address, "tree/a"], cwd=root, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=RUN_TIMEOUT)
        self.assertSame((done.returncode, done.stdout, done.stderr), talveron("tree/a"))


class EdgesTest(unittest.TestCase):
    def setUp(self):
        try:
            import dask.dataframe  # noqa: F401
            import pandas  # noqa: F401
        except ImportError as e:
            self.skipTest(f"no pandas or dask.dataframe ({e}): python3-pandas, python3-dask")
        sys.path.insert(0, PACKAGE_PARENT)
        self.addCleanup(sys.path.remove, PACKAGE_PARENT)
        here = os.getcwd()
        os.chdir(root)
        self.addCleanup(os.chdir, here)

    def test_a_frame_of_the_tools_json(self):
        import pandas

        from talveron_dask import edges
        with open(os.path.join(root, "again.html"), "wb") as f:
            f.write(b'<a href="http://a.jp/x#1">1</a> <a href="http://a.jp/x#2">2</a> <a href="http://a.jp/x#1">3</a>')
        cases = [({}, [], ["tree"]),
                 ({"keywords": ["ads"], "https": True, "search_zip": True}, ["-x", "ads", "--https", "-z"],
                  ["tree/crawl", "tree/m"]),
                 ({"html": True, "links": ["a", "area", "redirect"], "unique": True, "no_fragment": True},
                  ["--html", "--links=a,area,redirect", "--unique", "--no-fragment"],
                  ["tree/crawl/c.warc", "again.html"]),
                 ({"html": True, "unique": True}, ["--html", "--unique"], ["again.html"]),
                 ({"html": True, "base": "http://h.example/d/", "status": "200-299"},
                  ["--html", "--base=http://h.example/d/", "--status=200-299"], ["tree/a/large0.html"])]
        for options, words, inputs in cases:
            with self.subTest(options=options, inputs=inputs):
                code, out, err = talveron("--json", *words, *inputs)
                self.assertEqual(code, 0, err)
                expected = [tuple(json.loads(line).get(c) for c in self.columns()) for line in out.splitlines()]
                frame = edges(inputs, batch_bytes=8192, talveron=TALVERON, **options)
                self.assertEqual({c: str(t) for c, t in frame.dtypes.items()},
                                 {c: "Int64" if c == "offset" else "string" for c in self.columns()})
                got = client.compute(frame).result(timeout=RUN_TIMEOUT)
                self.assertEqual([tuple(None if v is pandas.NA else v for v in row)
                                  for row in got.itertuples(index=False)], expected)
        self.assertGreater(edges(["tree"], batch_bytes=8192, talveron=TALVERON).npartitions, 10)
        # What talveron refuses, before any search; an input it cannot read,
        # when its partition is computed.
        with self.assertRaisesRegex(ValueError, "anchor"):
            edges(["tree"], html=True, links=["anchor"], talveron=TALVERON)
        with self.assertRaisesRegex(RuntimeError, "missing.html: No such file"):
            client.compute(edges(["missing.html"], talveron=TALVERON)).result(timeout=RUN_TIMEOUT)

    @staticmethod
    def columns():
        from talveron_dask.frames import COLUMNS
        return COLUMNS


class OutputFileTest(unittest.TestCase):
    def run_to(self, target):
        return talveron_dask("-O", target, "tree/a/b")

    def test_a_link_stays_a_link(self):
        directory = tempfile.mkdtemp(dir=root)
        real = os.path.join(directory, "real.txt")
        with open(real, "wb") as f:
            f.write(b"old\n")
        os.chmod(real, 0o640)
        link = os.path.join(directory, "link.txt")
        os.symlink("real.txt", link)
        code, out, err = self.run_to(link)
        self.assertEqual((code, out, err), (0, b"", b""))
        self.assertTrue(os.path.islink(link))
        self.assertEqual(os.readlink(link), "real.txt")
        with open(real, "rb") as f:
            self.assertEqual(f.read(), talveron("tree/a/b")[1])
        self.assertEqual(stat.S_IMODE(os.stat(real).st_mode), 0o640)
        self.assertEqual(sorted(os.listdir(directory)), ["link.txt", "real.txt"])

    def test_mode_and_owner_are_kept(self):
        directory = tempfile.mkdtemp(dir=root)
        target = os.path.join(directory, "records.txt")
        with open(target, "wb") as f:
            f.write(b"old\n")
        os.chmod(target, 0o604)
        owner = (os.getuid(), os.getgid())
        if os.geteuid() == 0:
            owner = (4321, 4322)
            os.chown(target, *owner)
        self.assertEqual(self.run_to(target)[0], 0)
        st = os.stat(target)
        self.assertEqual(stat.S_IMODE(st.st_mode), 0o604)
        self.assertEqual((st.st_uid, st.st_gid), owner)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), talveron("tree/a/b")[1])

    def test_a_device_is_written_not_replaced(self):
        if os.geteuid() != 0:
            self.skipTest("only root could replace a device")
        # A device of our own (the null device's numbers), else /dev/null.
        device = os.path.join(tempfile.mkdtemp(dir=root), "null")
        try:
            os.mknod(device, stat.S_IFCHR | 0o666, os.makedev(1, 3))
        except OSError:
            device = "/dev/null"
        before = os.stat(device)
        code, out, err = self.run_to(device)
        self.assertEqual((code, out, err), (0, b"", b""))
        after = os.stat(device)
        self.assertTrue(stat.S_ISCHR(after.st_mode))
        self.assertEqual((after.st_ino, after.st_rdev), (before.st_ino, before.st_rdev))
        self.assertFalse([n for n in os.listdir(os.path.dirname(device)) if n.startswith(".null.")])

    def test_dev_stdout_is_the_standard_output(self):
        code, out, err = talveron_dask("-O", "/dev/stdout", "tree/a/b")
        self.assertEqual((code, out, err), (0, talveron("tree/a/b")[1], b""))


class CommandLineTest(unittest.TestCase):
    def run_options(self, *args):
        done = subprocess.run([sys.executable, "-m", "talveron_dask", "--talveron", TALVERON] + list(args), cwd=root,
                              env=dask_env(), stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
        return done.returncode, done.stdout, done.stderr

    def table(self):
        sys.path.insert(0, PACKAGE_PARENT)
        try:
            from talveron_dask import options
        finally:
            sys.path.remove(PACKAGE_PARENT)
        return options

    def test_usage_errors(self):
        for args, message in ((["tree", "-"], b"standard input"),
                              (["--files0-from=-", "tree"], b"--files0-from=- reads standard input"),
                              (["--label=x", "tree"], b"--label needs one talveron process"),
                              (["--out-txt", "tree"], b"--out-txt needs one talveron process"),
                              (["--rejected", "r.txt", "tree"], b"--rejected needs one talveron process"),
                              ([], b"no INPUT"),
                              (["--local", "0", "tree"], b"must be at least 1"),
                              (["--local", "2", "--scheduler", "tcp://127.0.0.1:1", "tree"], b"cannot be used together"),
                              (["--batch-bytes", "x", "tree"], b"not a size"),
                              (["--connect-timeout", "0", "tree"], b"above 0"),
                              (["--all-or-nothing", "tree"], b"goes with --output"),
                              (["--color=x", "tree"], b"--color takes never, always or auto, not 'x'"),
                              (["--colo", "tree"], b"ambiguous option"),
                              (["--html", "--base=ftp://h/", "tree/m"], b"--base takes an http or https URL"),
                              (["--base=http://h/", "tree/m"], b"--base goes with --html"),
                              (["--html", "--links=anchor", "tree/m"], b"--links takes"),
                              (["--links=a", "tree/m"], b"--links goes with --html"),
                              (["--status=abc", "tree/m"], b"--status takes"),
                              (["--json", "-l", "tree/m"], b"--json prints records"),
                              (["--json", "-h", "tree/m"], b"--json names every record's page"),
                              (["-e", "tree"], b"unrecognized arguments: -e")):
            with self.subTest(args=args):
                code, out, err = self.run_options(*args)
                self.assertEqual((code, out), (2, b""), err)
                self.assertIn(message, err)
                self.assertIn(b"Try 'talveron-dask --help'", err)
        # The keywords are checked by talveron itself, before any cluster.
        code, out, err = self.run_options(*sum((["-x", w] for w in "abcdefg"), []), "tree")
        self.assertEqual((code, out), (2, b""))
        self.assertIn(b"talveron-dask: more than six keywords", err)

    def test_stat_is_stats(self):
        # As talveron takes it, though --status begins with it too.
        options = self.table()
        for given in (["--stat"], ["--stat=json"]):
            parsed = options.parse(given + ["tree"], default_talveron=TALVERON, stdin_is_terminal=False)
            self.assertEqual((parsed.stats, parsed.stats_json, parsed.status), (True, given != ["--stat"], None))

    def test_inputs_after_double_dash_are_inputs(self):
        options = self.table()
        parsed = options.parse(["-c", "--", "-x", "tree", "-c"], default_talveron=TALVERON, stdin_is_terminal=False)
        self.assertEqual(parsed.inputs, ["-x", "tree", "-c"])

    def test_help_lists_every_option_of_the_table(self):
        code, out, err = self.run_options("--help")
        self.assertEqual((code, err), (0, b""))
        self.assertLessEqual(max(len(line) for line in out.decode().splitlines()), 80)
        options = self.table()
        for row in options.OPTIONS:
            if row.name:
                self.assertIn(f"--{row.name}".encode(), out)
                if row.letter:
                    self.assertIn(f"  -{row.letter}, --{row.name}".encode(), out)
        # -h is talveron's --no-filename, not the help.
        code, out, err = self.run_options("-h")
        self.assertEqual((code, out), (2, b""))
        self.assertIn(b"no INPUT", err)

    def test_shared_options_are_talverons(self):
        # Every option that goes to talveron, is refused as one talveron's,
        # or has talveron's name, is in talveron --help with the same letter
        # and value.
        help_text = talveron("--help")[1].decode()
        shared = [row for row in self.table().OPTIONS
                  if row.name and (row.kind != "own" or f"--{row.name}" in help_text)]
        self.assertGreater(len(shared), 25)
        ours = subprocess.run([sys.executable, "-m", "talveron_dask", "--help"], env=dask_env(),
                              stdout=subprocess.PIPE, check=True).stdout.decode()

        def column(text, head):
            """Where the help of the option that `head` begins starts (None:
            on the next line)."""
            line = next(line for line in text.splitlines() if line.startswith(head))
            rest = line[len(head):]
            return len(line) - len(rest.lstrip()) if rest.strip() else None

        for row in shared:
            value = (f"[={row.value}]" if row.optional else f"={row.value}") if row.value else ""
            head = (f"-{row.letter}, " if row.letter else "    ") + f"--{row.name}" + value
            self.assertIn(head, help_text, row.name)
            # Laid out as talveron lays it out.
            head = "  " + head + (f", --{row.name}={row.exactly}" if row.exactly else "")
            self.assertEqual(column(ours, head), column(help_text, head), row.name)

    def test_limits_are_the_headers(self):
        from talveron_dask import limits
        with open(os.path.join(HERE, "..", "..", "include", "talveron.h"), encoding="utf-8") as f:
            header = dict(re.findall(r"#define (TALVERON_[A-Z_]+) (\d+)", f.read()))
        names = [name for name in dir(limits) if name.startswith("TALVERON_")]
        self.assertEqual(len(names), 3)
        for name in names:
            self.assertEqual(str(getattr(limits, name)), header[name], name)

    def test_manual_pages_have_one_date_and_the_modules_version(self):
        heads = []
        for page in (os.path.join(PACKAGE_PARENT, "talveron-dask.1"), os.path.join(HERE, "..", "..", "host", "talveron.1")):
            with open(page, encoding="utf-8") as f:
                heads.append(f.readline().split(" ", 3))
        with open(os.path.join(HERE, "..", "..", "lifecycle", "version.h"), encoding="utf-8") as f:
            version = ".".join(re.findall(r"#define TALVERON_VERSION_[A-Z]+ (\d+)", f.read()))
        self.assertEqual(heads[0][3], heads[1][3], "one date and version")
        self.assertIn(f'"talveron {version}"', heads[1][3])

    def test_manual_page_names_every_option(self):
        page = os.path.join(PACKAGE_PARENT, "talveron-dask.1")
        with open(page, encoding="utf-8") as f:
            text = f.read()
        named = set(re.findall(r"--([a-z0-9][a-z0-9-]*)", text.replace("\\-", "-")))
        table = {row.name for row in self.table().OPTIONS if row.name} | \
                {alias for row in self.table().OPTIONS for alias in row.aliases}
        self.assertEqual(table - named, set())
        # Beyond the table, only the options of Dask's and CMake's commands
        # in the examples.
        others = {"host", "port", "nworkers", "nthreads", "install", "prefix", "tls-ca-file", "tls-cert", "tls-key"}
        self.assertEqual(named - table - others, set())


class BatchTest(unittest.TestCase):
    def setUp(self):
        sys.path.insert(0, PACKAGE_PARENT)
        self.addCleanup(sys.path.remove, PACKAGE_PARENT)

    def test_a_batch_closes_only_past_batch_bytes(self):
        from talveron_dask.batches import make_batches
        cases = [  # the inputs' sizes, --batch-bytes, the sizes of each batch's inputs
            ([4, 4], 8, [[4, 4]]),
            ([4, 5], 8, [[4], [5]]),
            ([8, 1], 8, [[8], [1]]),
            ([9, 0, 1], 8, [[9], [0, 1]]),
            ([0, 0, 8, 0], 8, [[0, 0, 8, 0]]),
            ([3, 3, 3, 3, 1], 6, [[3, 3], [3, 3], [1]]),
        ]
        for sizes, limit, expected in cases:
            with self.subTest(sizes=sizes, limit=limit):
                names = [b"p%d" % i for i in range(len(sizes))]
                batches = make_batches(names, [(size, False) for size in sizes], limit)
                self.assertEqual([[sizes[names.index(n)] for n in b.names] for b in batches], expected)
                self.assertEqual([b.size for b in batches], [sum(e) for e in expected])
                self.assertEqual([n for b in batches for n in b.names], names)
        # The output file among them: a batch of its own, refused.
        batches = make_batches([b"a", b"out", b"b"], [(1, False), (1, True), (1, False)], 8)
        self.assertEqual([(b.names, b.refused is not None) for b in batches],
                         [([b"a"], False), ([b"out"], True), ([b"b"], False)])

    def test_whole_records_of_output_cut_anywhere(self):
        from talveron_dask.worker import whole_records
        cases = [  # the records as talveron writes them, how they end
            ([b"a.html:http://x.jp/\n", b"'b'$'\\n':http://y.jp/\n", b"c:http://z.jp/\n"], {"end": b"\n"}),
            ([b"http://x.jp/\r\n", b"http://y.jp/\r\n"], {"end": b"\n"}),
            ([b"a\nb\0http://x.jp/\r\n", b"\n\n\0http://y.jp/\n", b"c\0" b"2\n"], {"end": b"\n", "named": True}),
            ([b"a\nb.html\0", b"c\n\0", b"d.html\0"], {"end": b"\0"}),
        ]
        for records, shape in cases:
            data = b"".join(records)
            for at in range(len(data) + 1):
                with self.subTest(records=records, at=at), tempfile.TemporaryFile() as f:
                    f.write(data[:at])
                    f.flush()
                    whole, n = b"", 0
                    for record in records:
                        n += len(record)
                        if n <= at:
                            whole += record
                    self.assertEqual(whole_records(f, at, shape), len(whole))


class SummaryTest(unittest.TestCase):
    def test_the_last_summary_line_is_read_and_the_rest_passed_on(self):
        sys.path.insert(0, PACKAGE_PARENT)
        try:
            from talveron_dask.stats import split_summary
        finally:
            sys.path.remove(PACKAGE_PARENT)
        line = (b'{"inputs_searched":2,"inputs_failed":1,"bytes":5,"records_written":6,"excluded_by_keyword":'
                b'[{"slot":3,"keyword":"a\\\\x5C","count":4}],"dropped_too_long":7,"dropped_unfinished":8,'
                b'"records_passed_over":[{"type":"warcinfo","count":9}],"elapsed_seconds":0.5}\n')
        said = b"talveron: x: No such file or directory\n"
        other = line.replace(b'"inputs_searched":2', b'"inputs_searched":3')
        cases = [  # standard error, the diagnostics, inputs searched (None: no summary)
            (b"", b"", None),
            (line, b"", 2),
            (said + line, said, 2),
            (said + b"{\xff\n" + line + b"after\n", said + b"{\xff\nafter\n", 2),
            (line + other, line, 3),
            (said + line.replace(b'"bytes":5', b'"bytes":"5"'), None, None),
            (said + line.replace(b'"slot":3', b'"slot":7'), None, None),
            (said + line[:-9], None, None),
            (said + line.replace(b'"count":9', b'"count":-9'), None, None),
        ]
        for stderr, diagnostics, searched in cases:
            with self.subTest(stderr=stderr):
                told, summary = split_summary(stderr)
                self.assertEqual(told, stderr if diagnostics is None else diagnostics)
                self.assertEqual(summary and summary["searched"], searched)
        summary = split_summary(line)[1]
        self.assertEqual(summary, {"searched": 2, "failed": 1, "bytes": 5, "records": 6, "too_long": 7,
                                   "unfinished": 8, "archives": 0, "archive_records": 0, "https": 0,
                                   "excluded": {3: 4}, "passed": {"warcinfo": 9}, "links": None, "statuses": None,
                                   "elapsed": 0.5})
        archives = line.replace(b'"excluded', b'"archives_searched":2,"records_searched":5,"excluded')
        self.assertEqual(split_summary(archives)[1]["archive_records"], 5)
        self.assertIsNone(split_summary(archives.replace(b'"records_searched":5', b'"records_searched":-5'))[1])
        links = line.replace(b'"elapsed', b'"links_passed_over":[{"kind":"mailto","count":3}],"elapsed')
        self.assertEqual(split_summary(links)[1]["links"], {"mailto": 3})
        self.assertIsNone(split_summary(links.replace(b'"count":3', b'"count":"3"'))[1])


if __name__ == "__main__":
    unittest.main()
