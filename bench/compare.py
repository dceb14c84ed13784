"""Times the harvesters on each corpus in one run: talveron (with its
default threads, and with one), wc -l (one pass over memory, the
yardstick), ripgrep, grep, hxwls and a Python html.parser extractor.
Each round runs every tool once, in turn, after a warm-up that brings the
corpus into the page cache; each tool's best wall time counts, its output
going to a file. Prints a Markdown table: MB/s, throughput as a share of
wc -l's, and peak memory (max RSS, as GNU time measures it in a run of its
own: a process forked by this Python script would carry the script's memory
into the figure).

    python3 bench/compare.py TALVERON CORPUS_DIR [ROUNDS [TOOL,TOOL...]]
"""
import os
import subprocess
import sys
import tempfile
import time

CORPORA = [
    ("real.html", "real pages"),
    ("nomatch.html", "no matching anchor"),
    ("dense.html", "dense anchors"),
    ("never.html", "2 GB, one address that never closes"),
]
SLOW_SECONDS = 20  # a tool slower than this runs once per corpus
TIMEOUT_SECONDS = 120


# Where each tool's standard output goes. Every harvester writes its records
# there: to a file (grep stops early when it writes to /dev/null); wc prints
# one number.
TO_DEVNULL = {"wc -l"}


def tools(talveron, here):
    return [
        ("talveron", [talveron, "--no-progress"]),
        ("talveron -j1", [talveron, "--no-progress", "-j1"]),
        ("wc -l", ["wc", "-l"]),
        ("rg", ["rg", "-uuu", "-oNI", "-i", '<a href="http://[^"]*"']),
        ("grep", ["sh", "-c", "LC_ALL=C exec grep -aoi '<a href=\"http://[^\"]*\"' \"$1\"", "grep"]),
        ("hxwls", ["hxwls"]),
        ("python html.parser", [sys.executable, os.path.join(here, "pyextract.py")]),
    ]


def timed(tool, command, path, workdir):
    """Wall seconds of one run (started with posix_spawn, which costs little),
    or None after a time-out. Every tool starts with empty output files: the
    one for its standard output (and an OUT.TXT, which talveron no longer
    writes). Emptying a large file left by the previous run costs time that
    is not this run's work."""
    result_file = os.path.join(workdir, "OUT.TXT")
    if os.path.exists(result_file):
        os.unlink(result_file)
    if tool in TO_DEVNULL:
        out = os.open(os.devnull, os.O_WRONLY)
    else:
        out = os.open(os.path.join(workdir, "out.txt"), os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    null = os.open(os.devnull, os.O_WRONLY)
    try:
        here = os.getcwd()
        os.chdir(workdir)
        start = time.perf_counter()
        pid = os.posix_spawnp(command[0], command + [path], os.environ,
                              file_actions=[(os.POSIX_SPAWN_DUP2, out, 1), (os.POSIX_SPAWN_DUP2, null, 2)])
        os.chdir(here)
        deadline = start + TIMEOUT_SECONDS
        while True:
            done, _ = os.waitpid(pid, os.WNOHANG)
            if done:
                return time.perf_counter() - start
            if time.perf_counter() > deadline:
                os.kill(pid, 9)
                os.waitpid(pid, 0)
                return None
            time.sleep(0.0002)
    finally:
        os.close(out)
        os.close(null)


def peak_kb(command, path, workdir):
    """Peak RSS in KB of one run, as GNU time reports it."""
    peak_file = os.path.join(workdir, "peak.txt")
    with open(os.path.join(workdir, "out.txt"), "wb") as out:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak_file] + command + [path], stdout=out,
                       stderr=subprocess.DEVNULL, cwd=workdir, timeout=TIMEOUT_SECONDS)
    with open(peak_file) as peak:
        return int(peak.read().split()[-1])


def main():
    talveron = os.path.abspath(sys.argv[1])
    corpus_dir = sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    only = set(sys.argv[4].split(",")) if len(sys.argv) > 4 else None
    here = os.path.dirname(os.path.abspath(__file__))
    print("| corpus | tool | MB/s | share of wc -l | peak memory |")
    print("|---|---|---:|---:|---:|")
    with tempfile.TemporaryDirectory() as workdir:
        for name, title in CORPORA:
            path = os.path.abspath(os.path.join(corpus_dir, name))
            if not os.path.exists(path):
                continue
            size_mb = os.path.getsize(path) / 1e6
            subprocess.run(["cat", path], stdout=subprocess.DEVNULL, check=True)  # warm-up
            best, peak, slow = {}, {}, set()
            for _ in range(rounds):
                for tool, command in tools(talveron, here):
                    if tool in slow or best.get(tool, 0) is None or (only and tool not in only):
                        continue
                    seconds = timed(tool, command, path, workdir)
                    if seconds is None:
                        best[tool] = None
                        continue
                    best[tool] = min(best.get(tool, seconds), seconds)
                    if tool not in peak:
                        peak[tool] = peak_kb(command, path, workdir)
                    if seconds > SLOW_SECONDS:
                        slow.add(tool)
            wc = best.get("wc -l")
            for tool, _ in tools(talveron, here):
                if only and tool not in only:
                    continue
                seconds = best.get(tool)
                if seconds is None:
                    print(f"| {title} ({size_mb:.0f} MB) | {tool} | timed out after {TIMEOUT_SECONDS} s | | |")
                    continue
                rate = size_mb / seconds
                share = f"{wc / seconds:.2f}" if wc else "-"
                print(f"| {title} ({size_mb:.0f} MB) | {tool} | {rate:,.0f} | {share} | {peak[tool] / 1024:.1f} MB |")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
