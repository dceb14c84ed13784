"""talveron-dask end to end: its records and diagnostics against those of one
talveron -H process, on a tree of pages the tests write, through one local
cluster of two worker processes shared by the tests.

    TALVERON=build/talveron python3 -m unittest -v test_talveron_dask

TALVERON names the talveron program; TALVERON_DASK_PYTHONPATH the directory
that holds the package (by default the parent of this one); TALVERON_PAGES_DIR,
when set, a folder of real pages to compare over as well. The test process
itself does not import talveron_dask, so the workers cannot either: the code
they run has to come with the tasks.
"""
import os
import random
import re
import shutil
import signal
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
TALVERON = os.environ.get("TALVERON") or os.path.join(HERE, "..", "..", "build", "talveron")
RUN_TIMEOUT = 90
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
    open(os.path.join(top, "m", "zero.html"), "wb").close()
    with open(os.path.join(top, "z", "unfinished.html"), "wb") as f:
        f.write(b'<a href="http://done.jp/">x</a> <a href="http://never-closed.jp/')
    os.symlink("../a/p000.html", os.path.join(top, "m", "link.html"))
    os.symlink("../a", os.path.join(top, "z", "loop"))


def talveron(*args, cwd=None):
    done = subprocess.run([TALVERON, "-H"] + list(args), cwd=cwd or root, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
    return done.returncode, done.stdout, done.stderr


def dask_command(args, local=None):
    where = ["--local", str(local)] if local else ["--scheduler", cluster.scheduler_address]
    return [sys.executable, "-m", "talveron_dask"] + where + ["--talveron", TALVERON] + list(args)


def dask_env(extra=None):
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT)
    env.update(extra or {})
    return env


def talveron_dask(*args, local=None, cwd=None):
    done = subprocess.run(dask_command(args, local), cwd=cwd or root, env=dask_env(), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
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


class TreeTest(unittest.TestCase):
    def assertSame(self, dask_run, talveron_run, status=0, stderr_too=True):
        code, out, err = dask_run
        self.assertEqual(code, status, err.decode(errors="replace"))
        self.assertEqual(talveron_run[0], status)
        self.assertGreater(len(talveron_run[1]), 0)
        self.assertEqual(out, talveron_run[1])
        if stderr_too:
            self.assertEqual(err, talveron_run[2])

    def test_tree_gives_the_records_of_one_process(self):
        self.assertSame(talveron_dask("--batch-bytes", BATCH, "tree"), talveron("tree"))

    def test_keywords_and_an_output_file(self):
        keywords = ["-x", "ads", "-x", "", "-x", "track"]
        out_dir = os.path.join(root, "out-keywords")
        os.makedirs(out_dir)
        target = os.path.join(out_dir, "records.txt")
        with open(target, "wb") as f:
            f.write(b"old\n")
        code, out, err = talveron_dask("--batch-bytes", BATCH, *keywords, "-o", target, "tree")
        self.assertEqual((code, out, err), (0, b"", b""))
        expected = talveron(*keywords, "tree")
        with open(target, "rb") as f:
            self.assertEqual(f.read(), expected[1])
        self.assertEqual(os.listdir(out_dir), ["records.txt"])

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
        self.assertEqual(ours["retries"], 0)
        self.assertRegex(err.decode(), r"talveron-dask: throughput +[0-9.]+ MB/s\n")

    def test_a_missing_input_in_the_middle(self):
        inputs = ["tree/a", "missing.html", "tree/z"]
        self.assertSame(talveron_dask("--batch-bytes", BATCH, *inputs), talveron(*inputs), status=1)
        # With -o the file stays as it was, and nothing is left beside it.
        out_dir = os.path.join(root, "out-missing")
        os.makedirs(out_dir)
        target = os.path.join(out_dir, "records.txt")
        with open(target, "wb") as f:
            f.write(b"old\n")
        code, out, err = talveron_dask("--batch-bytes", BATCH, "-o", target, *inputs)
        self.assertEqual((code, out), (1, b""))
        self.assertIn(b"talveron: missing.html: No such file or directory\n", err)
        self.assertIn(b"left unchanged", err)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"old\n")
        self.assertEqual(os.listdir(out_dir), ["records.txt"])

    def test_the_output_file_among_the_inputs(self):
        # Standard output into a page of the tree (the shell makes the file
        # before the run lists it), and -o FILE naming one: talveron turns
        # it down by name, and so must the batches.
        shutil.copytree(os.path.join(root, "tree", "a"), os.path.join(root, "own"), symlinks=True)
        name = "own/b/zz.html"
        diagnostic = f"talveron: {name}: input file is also the output\n".encode()
        runs = []
        for command in (dask_command(["--batch-bytes", "4K", "own"]), [TALVERON, "-H", "own"]):
            with open(os.path.join(root, name), "wb") as out:
                done = subprocess.run(command, cwd=root, env=dask_env(), stdin=subprocess.DEVNULL, stdout=out,
                                      stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            with open(os.path.join(root, name), "rb") as f:
                runs.append((done.returncode, f.read(), done.stderr))
            os.unlink(os.path.join(root, name))
        self.assertEqual(runs[0], runs[1])
        self.assertEqual(runs[1][0], 1)
        self.assertEqual(runs[1][2], diagnostic)
        self.assertGreater(len(runs[1][1]), 0)
        page_bytes = b'<a href="http://zz.jp/">'
        for command in (dask_command(["--batch-bytes", "4K", "-o", name, "own"]), [TALVERON, "-H", "-o", name, "own"]):
            with open(os.path.join(root, name), "wb") as f:
                f.write(page_bytes)
            done = subprocess.run(command, cwd=root, env=dask_env(), stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            self.assertEqual((done.returncode, done.stdout), (1, b""))
            self.assertTrue(done.stderr.startswith(diagnostic), done.stderr)
            self.assertIn(b"left unchanged", done.stderr)
            with open(os.path.join(root, name), "rb") as f:
                self.assertEqual(f.read(), page_bytes)
            self.assertEqual(sorted(os.listdir(os.path.join(root, "own", "b"))),
                             sorted(os.listdir(os.path.join(root, "tree", "a", "b"))) + ["zz.html"])

    def test_real_pages(self):
        pages = os.environ.get("TALVERON_PAGES_DIR")
        if not pages:
            self.skipTest("TALVERON_PAGES_DIR is not set: no real pages to compare over")
        pages = os.path.abspath(pages)
        self.assertSame(talveron_dask("--batch-bytes", "4M", pages), talveron(pages), stderr_too=True)

    def test_a_local_cluster_of_its_own(self):
        self.assertSame(talveron_dask("--batch-bytes", "64K", "-x", "track", "tree", local=2),
                        talveron("-x", "track", "tree"))

    def test_a_worker_killed_in_the_middle_of_a_batch(self):
        pause = tempfile.mkdtemp(dir=root)
        with open(os.path.join(pause, "out"), "wb") as out, open(os.path.join(pause, "err"), "wb") as err:
            run = subprocess.Popen(dask_command(["--batch-bytes", BATCH, "--stats", "tree"]), cwd=root,
                                   env=dask_env({"TALVERON_DASK_TEST_PAUSE": pause}),
                                   stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                deadline = time.monotonic() + 30
                pid_file = os.path.join(pause, "pid")
                while not os.path.exists(pid_file):
                    self.assertIsNone(run.poll(), "talveron-dask ended before batch 0 began")
                    self.assertLess(time.monotonic(), deadline, "batch 0 never began")
                    time.sleep(0.05)
                with open(pid_file) as f:
                    pid = int(f.read())
                self.assertNotEqual(pid, os.getpid())
                os.kill(pid, signal.SIGKILL)
                status = run.wait(timeout=RUN_TIMEOUT)
            finally:
                if run.poll() is None:
                    run.kill()
                    run.wait()
        with open(os.path.join(pause, "out"), "rb") as f:
            out = f.read()
        with open(os.path.join(pause, "err"), "rb") as f:
            err = f.read()
        self.assertEqual(status, 0, err)
        self.assertEqual(out, talveron("tree")[1])
        self.assertGreaterEqual(summary(err)["retries"], 1, err)
        client.wait_for_workers(2, timeout=60)  # the nanny starts a new one

    def test_usage_errors(self):
        for args, message in (([], b"one of the arguments --scheduler --local is required"),
                              (["--scheduler", "tcp://127.0.0.1:1", "-"], b"standard input"),
                              (["--local", "0", "tree"], b"must be at least 1"),
                              (["--scheduler", "tcp://127.0.0.1:1", "--batch-bytes", "x", "tree"], b"not a size")):
            done = subprocess.run([sys.executable, "-m", "talveron_dask", "--talveron", TALVERON] + args, cwd=root,
                                  env=dask_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=RUN_TIMEOUT)
            self.assertEqual(done.returncode, 2, args)
            self.assertIn(message, done.stderr)
        # The keywords are checked by talveron itself, before any cluster.
        code, out, err = talveron_dask(*sum((["-x", w] for w in "abcdefg"), []), "tree")
        self.assertEqual((code, out), (2, b""))
        self.assertIn(b"talveron-dask: more than six keywords", err)


if __name__ == "__main__":
    unittest.main()
