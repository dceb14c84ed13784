"""talveron-dask beside talveron, in one run: the many-pages corpus through
`talveron -H -O` in one process and through `talveron-dask --local 2 -O`,
then through talveron-dask on clusters already running (their start left
out), and the cost of one batch, from runs of many tiny batches.

With --memory, instead: the peak memory of the client and of each worker
for one dense page (3,000,000 anchors in 105 MB, about 108 MB of records)
on a running cluster of 2 workers, and that the records are talveron's.

Each command runs once untimed, then ROUNDS times; the best wall time counts
(the whole process: for talveron-dask, Python's start, the listing, the
cluster's start with --local, the batches and the cluster's shutdown). Every
talveron-dask output is compared with talveron's, byte for byte. Prints
Markdown tables and the figures behind the estimate for larger clusters.

    /usr/bin/python3 bench/dask_compare.py TALVERON CORPUS_DIR [ROUNDS]
    /usr/bin/python3 bench/dask_compare.py --memory TALVERON WORK_DIR [PACKAGE_PARENT]

PACKAGE_PARENT (by default python/ of this repository) lets --memory measure
another version of the package, with its own option names.

CORPUS_DIR/pages is the folder bench/make_pages.sh writes (copies of the
machine's HTML documentation); when it is missing, this script copies up to
48 MB of those pages into CORPUS_DIR/dask-pages itself and uses that. It
needs Debian's python3-distributed (the system's /usr/bin/python3); it runs
the package of python/ in this repository.
"""
import logging
import os
import shutil
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PACKAGE_PARENT = os.path.join(REPO, "python")
TIMEOUT_SECONDS = 300
TINY_BATCHES = 200
DOC_DIRS = ["/usr/share/doc", "/usr/share/gtk-doc"]
OWN_CORPUS_BYTES = 48 * 1024 * 1024

os.environ.setdefault("DASK_LOGGING__DISTRIBUTED", "critical")

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_compare import html_bytes  # noqa: E402  (the pages talveron searches in a folder)


def own_corpus(corpus):
    """CORPUS/dask-pages: the machine's HTML documentation, in sorted order,
    until 48 MB, under their own paths (as make_pages.sh does, without its
    thinning out and copies)."""
    target = os.path.join(corpus, "dask-pages")
    if os.path.isdir(target):
        return target
    found = []
    for top_dir in DOC_DIRS:
        for top, dirs, names in os.walk(top_dir):
            dirs.sort()
            for name in sorted(names):
                path = os.path.join(top, name)
                if name.lower().endswith((".htm", ".html")) and os.path.isfile(path) and not os.path.islink(path):
                    found.append(path)
    if not found:
        sys.exit("dask_compare.py: no HTML documentation on this machine and no CORPUS_DIR/pages")
    partial = target + ".tmp"
    shutil.rmtree(partial, ignore_errors=True)
    total = 0
    for path in found:
        copy = os.path.join(partial, path.lstrip("/"))
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        shutil.copyfile(path, copy)
        total += os.path.getsize(path)
        if total >= OWN_CORPUS_BYTES:
            break
    os.rename(partial, target)
    return target


def timed(argv, cwd, env=None):
    """Runs `argv`; returns (seconds, exit status, standard error)."""
    start = time.perf_counter()
    done = subprocess.run(argv, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=TIMEOUT_SECONDS)
    return time.perf_counter() - start, done.returncode, done.stderr


def best_of(rounds, argv, cwd, env=None, check=None, statuses=(0,)):
    """Best wall time of `rounds` runs after an untimed one; `check`, called
    after each run, says whether its output was right; `statuses` are the
    exit statuses that are no failure."""
    timed(argv, cwd, env)
    best, last_err, right = None, b"", True
    for _ in range(rounds):
        seconds, status, err = timed(argv, cwd, env)
        if status not in statuses:
            sys.exit(f"dask_compare.py: {' '.join(argv)}: exit status {status}\n{err.decode(errors='replace')}")
        right = right and (check() if check else True)
        best = seconds if best is None else min(best, seconds)
        last_err = err
    return best, last_err, right


def figures(stderr):
    """talveron-dask's --stats figures by label."""
    out = {}
    for line in stderr.decode(errors="replace").splitlines():
        if line.startswith("talveron-dask: "):
            label, _, value = line[len("talveron-dask: "):].partition("  ")
            out[label.strip()] = value.strip()
    return out


def start_cluster(workers, scratch):
    from distributed import LocalCluster
    return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                        local_directory=scratch, silence_logs=logging.CRITICAL)


DENSE_ANCHORS = 3_000_000


def peak_kb(dask_worker=None):
    """VmHWM of this process, in kB (run on the workers)."""
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def memory(talveron, work, package_parent):
    """Peak memory of the client and the workers over one dense page."""
    os.makedirs(work, exist_ok=True)
    page = os.path.join(work, "dense.html")
    if not os.path.exists(page) or os.path.getsize(page) != DENSE_ANCHORS * 35:
        with open(page + ".tmp", "w") as f:
            for start in range(0, DENSE_ANCHORS, 100_000):
                f.write("".join(f'<a href="http://www.a.jp/{i:07d}">\n' for i in range(start, start + 100_000)))
        os.rename(page + ".tmp", page)
    expected = os.path.join(work, "expected.txt")
    subprocess.run([talveron, "-H", "-O", expected, "dense.html"], cwd=work, check=True)
    out = os.path.join(work, "dask.txt")
    env = dict(os.environ, PYTHONPATH=package_parent, PYTHONDONTWRITEBYTECODE="1")
    new_options = os.path.exists(os.path.join(package_parent, "talveron-dask.1"))
    with start_cluster(2, os.path.join(work, "scratch")) as cluster:
        from distributed import Client
        with Client(cluster) as client:
            client.wait_for_workers(2)
            before = client.run(peak_kb)
            argv = [sys.executable, "-m", "talveron_dask", "--scheduler", cluster.scheduler_address,
                    "--talveron", talveron, "--stats"] + (["-H", "-O"] if new_options else ["-o"]) + [out, "dense.html"]
            start = time.perf_counter()
            child = subprocess.Popen(argv, cwd=work, env=env, stdin=subprocess.DEVNULL, stderr=subprocess.PIPE)
            err = child.stderr.read()
            _, status, usage = os.wait4(child.pid, 0)
            seconds = time.perf_counter() - start
            after = client.run(peak_kb)
    with open(expected, "rb") as a, open(out, "rb") as b:
        same = a.read() == b.read()
    print(f"one page of {os.path.getsize(page) / 1e6:.0f} MB, {DENSE_ANCHORS:,} records "
          f"({os.path.getsize(expected) / 1e6:.0f} MB), package {package_parent}: exit status "
          f"{os.waitstatus_to_exitcode(status)}, {seconds:.2f} s, records {'the same' if same else 'DIFFERENT'}")
    print(f"client peak RSS: {usage.ru_maxrss / 1024:.0f} MiB")
    for address in sorted(after):
        print(f"worker {address}: peak RSS {after[address] / 1024:.0f} MiB "
              f"(after its start: {before.get(address, 0) / 1024:.0f} MiB)")
    if err:
        sys.stdout.write(err.decode(errors="replace"))


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--memory":
        if len(sys.argv) < 4:
            sys.exit(__doc__)
        memory(os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3]),
               os.path.abspath(sys.argv[4]) if len(sys.argv) > 4 else PACKAGE_PARENT)
        return
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    talveron = os.path.abspath(sys.argv[1])
    corpus = os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    pages = os.path.join(corpus, "pages")
    if not os.path.isdir(pages):
        pages = own_corpus(corpus)
    files, size = html_bytes(pages)
    work = tempfile.mkdtemp(prefix="dask-compare-")
    env = dict(os.environ, PYTHONPATH=PACKAGE_PARENT, PYTHONDONTWRITEBYTECODE="1")
    dask = [sys.executable, "-m", "talveron_dask", "--talveron", talveron]
    single_out = os.path.join(work, "single.txt")
    dask_out = os.path.join(work, "dask.txt")
    folder = os.path.relpath(pages, corpus)

    def same():
        with open(single_out, "rb") as a, open(dask_out, "rb") as b:
            return a.read() == b.read()

    rows = []
    try:
        single, _, _ = best_of(rounds, [talveron, "-H", "-O", single_out, folder], corpus)
        rows.append((f"talveron -H -O out {folder}", single, None, "1 process", True))
        for batch in ("256M", "4M"):
            seconds, err, right = best_of(rounds, dask + ["--local", "2", "--batch-bytes", batch, "--stats", "-O",
                                                          dask_out, folder], corpus, env, same)
            f = figures(err)
            rows.append((f"talveron-dask --local 2 --batch-bytes {batch} -O out {folder}", seconds, f,
                         f"{f['batches']} batches, cluster start {f['cluster start']}", right))

        # Clusters already running: what a batch costs without the start.
        tiny = os.path.join(work, "tiny")
        os.makedirs(tiny)
        for i in range(TINY_BATCHES):
            with open(os.path.join(tiny, f"t{i:04d}.html"), "wb") as page:
                page.write(b"<")
        per_batch = {}
        warm = {}
        for workers in (1, 2):
            with start_cluster(workers, os.path.join(work, f"scratch{workers}")) as cluster:
                from distributed import Client
                with Client(cluster) as client:
                    client.wait_for_workers(workers)
                at = ["--scheduler", cluster.scheduler_address]
                for batch in ("256M", "4M"):
                    seconds, err, right = best_of(rounds, dask + at + ["--batch-bytes", batch, "--stats", "-O",
                                                                       dask_out, folder], corpus, env, same)
                    f = figures(err)
                    warm[(workers, batch)] = (seconds, f)
                    rows.append((f"talveron-dask ({workers} running worker{'s' * (workers > 1)}) --batch-bytes "
                                 f"{batch}", seconds, f, f"{f['batches']} batches, elapsed {f['elapsed']}", right))
                # Pages of one "<": no record, exit status 1.
                many, _, _ = best_of(rounds, dask + at + ["--batch-bytes", "1", "tiny"], work, env, statuses=(1,))
                one, _, _ = best_of(rounds, dask + at + ["tiny"], work, env, statuses=(1,))
                per_batch[workers] = (many - one) / (TINY_BATCHES - 1)
    finally:
        shutil.rmtree(work, ignore_errors=True)

    mb = size / 1e6
    print(f"{os.cpu_count()} cores, {files:,} pages, {mb:.0f} MB ({folder}), best of {rounds}; "
          f"wall time of the whole command")
    print()
    print("| command | wall s | MB/s | ratio to talveron | notes | same output |")
    print("|---|---:|---:|---:|---|---|")
    for shown, seconds, f, notes, right in rows:
        print(f"| `{shown}` | {seconds:.3f} | {mb / seconds:,.0f} | {single / seconds:.3f} | {notes} | "
              f"{'yes' if right else 'NO'} |")
    print()
    print(f"Per-batch cost ({TINY_BATCHES} batches of one 1-byte page against one batch of them all, on a "
          f"running cluster): {per_batch[1] * 1e3:.1f} ms with 1 worker, {per_batch[2] * 1e3:.1f} ms of wall "
          f"time per batch with 2 workers.")
    seconds2, f2 = warm[(2, "4M")]
    batches2 = int(f2["batches"].replace(",", ""))
    print(f"(dask time - single time / workers) / batches, 2 running workers, 4M batches: "
          f"({seconds2:.3f} - {single:.3f} / 2) / {batches2} = {(seconds2 - single / 2) / batches2 * 1e3:.1f} ms "
          f"(this counts Python's start, the listing and the client's connection too).")
    per_worker = mb / single
    batch_mb = 256 * 1024 * 1024 / 1e6
    o1 = per_batch[1]
    # The client and the scheduler hand out one batch at a time: the wall
    # time per tiny batch with two workers bounds what they cost per batch
    # (from above: here they share two cores with the workers).
    dispatch_cap = batch_mb / per_batch[2]
    print()
    print(f"Estimate for 256 MiB batches: one worker searches at {per_worker:,.0f} MB/s (talveron's own rate "
          f"here, pages in memory), a batch costs {o1 * 1e3:.1f} ms beside its search; W workers: "
          f"W x {batch_mb:.0f} MB / ({batch_mb:.0f} MB / {per_worker:,.0f} MB/s + {o1 * 1e3:.1f} ms), at most "
          f"{batch_mb:.0f} MB / {per_batch[2] * 1e3:.1f} ms = {dispatch_cap:,.0f} MB/s for the client and "
          f"scheduler; the file system's bandwidth is not in it.")
    print()
    print("| workers | MB/s, search bound | per batch on each worker |")
    print("|---:|---:|---:|")
    for workers in (1, 8, 64):
        seconds_per_batch = batch_mb / per_worker + o1
        rate = min(workers * batch_mb / seconds_per_batch, dispatch_cap)
        print(f"| {workers} | {rate:,.0f} | {seconds_per_batch:.3f} s |")


if __name__ == "__main__":
    main()
