"""The link graph's records with their fields, side by side: `talveron -z
--html --json` against its own `--html --tsv` (goal: --json within 1.3x of
--tsv's time) and against bench/pylinks.py --json, the script a Python user
would write (a record loop of its own over the gzip stream, lxml.html,
urljoin), which collects the same fields. On wget's WARC of local
documentation sites (DIR...: each served on 127.0.0.1 and crawled
recursively), and on CORPUS/crawl.warc.gz when bench/make_archive.py has
made it. Best wall time of the rounds after a warm-up, the records written
to /dev/null (what the tool costs, not the file system: a file of the
crawl's 2.3 GB of JSON costs its writer as much again in the kernel);
peak memory of a run of its own; edges are the records out, counted from
the warm-up's file.

    python3 bench/json_compare.py TALVERON CORPUS_DIR ROUNDS DIR...
"""
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))
import html_links_oracle as oracle  # noqa: E402

GOAL = 1.3


def run_once(command, out):
    start = time.perf_counter()
    with open(out or os.devnull, "wb") as sink:
        done = subprocess.run(command, stdout=sink, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start, done.returncode


def peak_kb(command):
    done = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    return int(done.stderr.decode().strip().splitlines()[-1])


def compare(title, archive, talveron, rounds, work):
    runs = [("talveron -z --html --tsv", [talveron, "-z", "--html", "--tsv", archive]),
            ("talveron -z --html --json", [talveron, "-z", "--html", "--json", archive]),
            ("talveron -z --html --json -j1", [talveron, "-z", "--html", "--json", "-j1", archive]),
            ("python3 bench/pylinks.py --json", [sys.executable, str(HERE / "pylinks.py"), "--json", archive])]
    out = os.path.join(work, "out")
    best = {}
    for round_number in range(rounds + 1):
        for shown, command in runs:
            seconds, status = run_once(command, out if round_number == 0 else None)
            if round_number == 0:
                with open(out, "rb") as f:
                    edges = sum(1 for _ in f)
                best[shown] = [None, edges, peak_kb(command), status]
            else:
                best[shown][0] = seconds if best[shown][0] is None else min(best[shown][0], seconds)
    tsv = best[runs[0][0]][0]
    print(f"\n{title}\n")
    print("| command | seconds | x --tsv | edges | peak memory | exit |")
    print("|---|---:|---:|---:|---:|---:|")
    for shown, _ in runs:
        seconds, edges, peak, status = best[shown]
        print(f"| `{shown}` | {seconds:.2f} | {seconds / tsv:.2f} | {edges:,} | {peak / 1024:.1f} MB | {status} |")
    ratio = best[runs[1][0]][0] / tsv
    print(f"\n--json / --tsv: {ratio:.2f} (goal: within {GOAL}x: {'met' if ratio <= GOAL else 'missed'})")


def main():
    talveron, corpus, rounds, dirs = os.path.abspath(sys.argv[1]), sys.argv[2], int(sys.argv[3]), sys.argv[4:]
    print(f"{os.cpu_count()} cores, load {os.getloadavg()[0]:.1f}, "
          f"{time.strftime('%Y-%m-%d', time.gmtime())}")
    with tempfile.TemporaryDirectory() as work:
        if dirs:
            site = pathlib.Path(work, "site")
            site.mkdir()
            for k, folder in enumerate(dirs):
                os.symlink(os.path.abspath(folder), site / f"site{k}")
            archive = oracle.wget_warc(site, work, [f"site{k}/index.html" for k in range(len(dirs))],
                                       ["-r", "-l", "inf", "--no-parent"])
            compare(f"wget's WARC of {', '.join(dirs)} ({os.path.getsize(archive):,} bytes)", archive, talveron,
                    rounds, work)
        crawl = os.path.join(corpus, "crawl.warc.gz")
        if os.path.isfile(crawl):
            compare(f"{crawl} ({os.path.getsize(crawl) / 1e6:,.0f} MB)", crawl, talveron, rounds, work)


if __name__ == "__main__":
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
    main()
