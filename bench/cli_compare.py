"""Times the talveron command line side by side with its yardsticks, in one
run: folders of pages against talveron -j1 (one thread), ripgrep and grep
-r, one large page against -j1 and wc -l, standard input against a named
file and a pipe against wc -l, and records written to a file against wc -l.
Each round runs every command of a case once, in turn, after a warm-up
round that is not timed; each command's best wall time counts. Every run
starts with its output files removed. Prints a Markdown table: MB/s of
input, talveron's throughput as a ratio of each yardstick's with the goal
for it, the lines written, and peak memory (max RSS of the program named
first in the command, as GNU time measures it in a run of its own: a
process forked by this Python script would carry the script's memory into
the figure). grep runs with LC_ALL=C, its fastest.

    python3 bench/cli_compare.py TALVERON CORPUS_DIR [ROUNDS]

CORPUS_DIR holds what bench/run.sh and bench/make_pages.sh write: pages/,
small-pages/, real.html and dense.html; a case whose input is missing is
left out.
"""
import hashlib
import os
import shutil
import select
import sys
import tempfile
import time

TIMEOUT_SECONDS = 120
PEAK_GOAL_MB = 8  # with one thread; each more thread may add the budget of kept reports
KEPT_BUDGET_MB = 64
PATTERN = '<a href="http://[^"]*"'
GREP = ["grep", "-rhoai", PATTERN]
GREP_SHOWN = f"grep -rhoai '{PATTERN}'"
# ripgrep with its default threads, every file (-uuu), case ignored.
RG = ["rg", "-uuu", "-oNI", "-i", PATTERN]
RG_SHOWN = f"rg -uuu -oNI -i '{PATTERN}'"


class Run:
    """One command: a pipeline of programs. `stdin` is a file to read from or
    None; the last program's standard output goes to out.txt in the work
    folder, or to /dev/null when `to_file` is false. `outputs` are files
    (relative to the work folder) removed before each run. `measured` is the
    index of the program whose peak memory is reported."""

    def __init__(self, shown, stages, stdin=None, to_file=True, outputs=(), measured=None):
        self.shown = shown
        self.stages = stages
        self.stdin = stdin
        self.to_file = to_file
        self.outputs = ["out.txt"] + list(outputs)
        self.measured = len(stages) - 1 if measured is None else measured
        self.best = None
        self.timed_out = False
        self.statuses = set()
        self.lines = None
        self.digest = None
        self.peak_kb = None


class Case:
    def __init__(self, title, size, runs, goals, same_output=False):
        self.title = title
        self.size = size
        self.runs = runs  # runs[0] is talveron's, the others its yardsticks
        self.goals = goals  # for each yardstick: the ratio to reach, or None
        self.same_output = same_output  # talveron and its first yardstick must write the same bytes


def html_bytes(folder):
    """Files and bytes of the pages talveron searches in `folder`: names
    ending in .htm or .html in any case, symbolic links passed over."""
    files = size = 0
    for root, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if not os.path.islink(os.path.join(root, d))]
        for name in names:
            path = os.path.join(root, name)
            if name.lower().endswith((".htm", ".html")) and not os.path.islink(path):
                files += 1
                size += os.path.getsize(path)
    return files, size


def cases(talveron, corpus, out):
    """The cases whose inputs are in `corpus`, the folder the commands run in;
    `out` is the path of out.txt. A yardstick whose program is missing is
    left out."""
    found = []
    for folder, title, goals in (("pages", "real pages", (1.4, 4.0, None)),
                                 ("small-pages", "small pages", (1.4, 2.0, None))):
        if os.path.isdir(os.path.join(corpus, folder)):
            files, size = html_bytes(os.path.join(corpus, folder))
            found.append(Case(
                f"{title}: {files:,} files ({size / 1e6:.0f} MB)", size,
                [Run(f"talveron --output=out.txt {folder}", [[talveron, "--output=" + out, folder]], to_file=False),
                 Run(f"talveron -j1 --output=out.txt {folder}", [[talveron, "-j1", "--output=" + out, folder]],
                     to_file=False),
                 Run(f"{RG_SHOWN} {folder} > out.txt", [RG + [folder]]),
                 Run(f"{GREP_SHOWN} {folder} > out.txt", [GREP + [folder]])],
                list(goals), same_output=True))
    real = "real.html"
    if os.path.isfile(os.path.join(corpus, real)):
        size = os.path.getsize(os.path.join(corpus, real))
        title = f"real.html ({size / 1e6:.0f} MB)"
        found.append(Case(
            f"one page, {title}", size,
            [Run("talveron real.html > out.txt", [[talveron, real]]),
             Run("talveron -j1 real.html > out.txt", [[talveron, "-j1", real]]),
             Run("wc -l real.html", [["wc", "-l", real]], to_file=False)],
            [None, 1.3], same_output=True))
        found.append(Case(
            f"standard input, {title}", size,
            [Run("talveron - < real.html > out.txt", [[talveron, "-"]], stdin=real),
             Run("talveron -j1 real.html > out.txt", [[talveron, "-j1", real]])],
            [0.9], same_output=True))
        found.append(Case(
            f"a pipe, {title}", size,
            [Run("cat real.html | talveron - > out.txt", [["cat", real], [talveron, "-"]]),
             Run("cat real.html | wc -l", [["cat", real], ["wc", "-l"]], to_file=False)],
            [0.9]))
    dense = "dense.html"
    if os.path.isfile(os.path.join(corpus, dense)):
        size = os.path.getsize(os.path.join(corpus, dense))
        found.append(Case(
            f"dense anchors, dense.html ({size / 1e6:.0f} MB)", size,
            [Run("talveron --output=out.txt dense.html", [[talveron, "--output=" + out, dense]], to_file=False),
             Run("talveron -j1 --output=out.txt dense.html", [[talveron, "-j1", "--output=" + out, dense]],
                 to_file=False),
             Run("wc -l dense.html", [["wc", "-l", dense]], to_file=False)],
            [None, 0.40]))
    # The standards mode on one page: with every core (a page is read whole
    # by one thread: the two runs are alike) and -j1, against wc -l.
    for name, label, goal in (("real.html", "one page", 0.5), ("dense.html", "dense anchors", 0.25),
                              ("nomatch.html", "near misses", 0.25)):
        if os.path.isfile(os.path.join(corpus, name)):
            size = os.path.getsize(os.path.join(corpus, name))
            found.append(Case(
                f"--html, {label}, {name} ({size / 1e6:.0f} MB)", size,
                [Run(f"talveron --html -j1 {name} > out.txt", [[talveron, "--html", "-j1", name]]),
                 Run(f"wc -l {name}", [["wc", "-l", name]], to_file=False)],
                [goal]))
    for case in found:
        kept = [k for k, run in enumerate(case.runs) if k == 0 or shutil.which(run.stages[-1][0])]
        case.runs = [case.runs[k] for k in kept]
        case.goals = [case.goals[k - 1] for k in kept[1:]]
    return found


def spawn(run, workdir, stages, cwd):
    """Starts the pipeline in `cwd` (posix_spawn, which costs little), its
    output files in `workdir`; returns the start time and the processes' ids."""
    for name in run.outputs:
        try:
            os.unlink(os.path.join(workdir, name))
        except FileNotFoundError:
            pass
    flags = os.O_WRONLY | os.O_CLOEXEC
    first_in = os.open(os.path.join(cwd, run.stdin) if run.stdin else os.devnull, os.O_RDONLY | os.O_CLOEXEC)
    last_out = (os.open(os.path.join(workdir, "out.txt"), flags | os.O_CREAT | os.O_TRUNC, 0o644)
                if run.to_file else os.open(os.devnull, flags))
    null = os.open(os.devnull, flags)
    pipes = [os.pipe2(os.O_CLOEXEC) for _ in stages[1:]]
    ends = [first_in] + [r for r, _ in pipes], [w for _, w in pipes] + [last_out]
    here = os.getcwd()
    os.chdir(cwd)
    try:
        start = time.perf_counter()
        pids = [os.posix_spawnp(argv[0], argv, os.environ | {"LC_ALL": "C"},
                                file_actions=[(os.POSIX_SPAWN_DUP2, ends[0][k], 0),
                                              (os.POSIX_SPAWN_DUP2, ends[1][k], 1),
                                              (os.POSIX_SPAWN_DUP2, null, 2)])
                for k, argv in enumerate(stages)]
    finally:
        os.chdir(here)
        for fd in ends[0] + ends[1] + [null]:
            os.close(fd)
    return start, pids


def wait_all(pids, start):
    """Waits for every process; returns (seconds, exit statuses), or None
    after the time-out, with the processes killed."""
    fds = {os.pidfd_open(pid): pid for pid in pids}
    statuses = {}
    try:
        while len(statuses) < len(pids):
            left = start + TIMEOUT_SECONDS - time.perf_counter()
            ready, _, _ = select.select([fd for fd, pid in fds.items() if pid not in statuses], [], [], max(left, 0))
            if not ready:
                for pid in pids:
                    if pid not in statuses:
                        os.kill(pid, 9)
                        os.waitpid(pid, 0)
                return None
            for fd in ready:
                _, status = os.waitpid(fds[fd], 0)
                statuses[fds[fd]] = os.waitstatus_to_exitcode(status)
        return time.perf_counter() - start, [statuses[pid] for pid in pids]
    finally:
        for fd in fds:
            os.close(fd)


def timed(run, workdir, cwd):
    start, pids = spawn(run, workdir, run.stages, cwd)
    return wait_all(pids, start)


def peak_kb(run, workdir, cwd):
    """Peak RSS in KB of the measured program in one run, as GNU time reports it."""
    peak_file = os.path.join(workdir, "peak.txt")
    stages = list(run.stages)
    stages[run.measured] = ["/usr/bin/time", "-f", "%M", "-o", peak_file] + stages[run.measured]
    start, pids = spawn(run, workdir, stages, cwd)
    if wait_all(pids, start) is None:
        return None
    with open(peak_file) as peak:
        return int(peak.read().split()[-1])


def look_at_output(run, workdir):
    path = os.path.join(workdir, "out.txt")
    digest, lines = hashlib.sha256(), 0
    with open(path, "rb") as out:
        while block := out.read(1 << 20):
            digest.update(block)
            lines += block.count(b"\n")
    run.lines, run.digest = lines, digest.hexdigest()


def measure(case, workdir, cwd, rounds):
    for round_number in range(rounds + 1):  # round 0 is the warm-up
        for run in case.runs:
            if run.timed_out:
                continue
            result = timed(run, workdir, cwd)
            if result is None:
                run.timed_out = True
                continue
            seconds, statuses = result
            run.statuses.update(statuses)
            if round_number == 0:
                if os.path.exists(os.path.join(workdir, "out.txt")):
                    look_at_output(run, workdir)
                run.peak_kb = peak_kb(run, workdir, cwd)
            else:
                run.best = seconds if run.best is None else min(run.best, seconds)


TABLE_HEAD = ("| case | command | MB/s | ratio | goal | lines out | peak memory |\n"
              "|---|---|---:|---:|---|---:|---:|")


def print_rows(case, notes):
    """The table's rows of a case measured; a run that exited with trouble
    adds a note."""
    ours = case.runs[0]
    for k, run in enumerate(case.runs):
        if run.timed_out or run.best is None:
            rate = f"timed out after {TIMEOUT_SECONDS} s"
        else:
            rate = f"{case.size / 1e6 / run.best:,.0f}"
        shown_ratio = goal = ""
        if k > 0:
            ratio = run.best / ours.best if ours.best and run.best else None
            shown_ratio = f"{ratio:.2f}" if ratio else ""
            aim = case.goals[k - 1]
            if aim is not None:
                goal = f"≥ {aim:.2f}: " + ("met" if ratio and ratio >= aim else "missed")
        lines = f"{run.lines:,}" if run.lines is not None else ""
        peak = f"{run.peak_kb / 1024:.1f} MB" if run.peak_kb is not None else ""
        title = case.title if k == 0 else ""
        shown = run.shown.replace("|", "\\|")  # a bar inside a cell, even in code, needs its backslash
        print(f"| {title} | `{shown}` | {rate} | {shown_ratio} | {goal} | {lines} | {peak} |")
        bad = run.statuses - {0}
        if bad:
            notes.append(f"`{run.shown}` exited with {', '.join(map(str, sorted(bad)))}")


def main():
    talveron = os.path.abspath(sys.argv[1])
    corpus = os.path.abspath(sys.argv[2])
    legacy_file = os.path.join(corpus, "OUT.TXT")
    legacy_before = os.path.exists(legacy_file)
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    notes, peaks = [], []
    print(TABLE_HEAD)
    with tempfile.TemporaryDirectory() as workdir:
        for case in cases(talveron, corpus, os.path.join(workdir, "out.txt")):
            measure(case, workdir, corpus, rounds)
            ours = case.runs[0]
            print_rows(case, notes)
            for run in case.runs:
                if run.peak_kb is not None and run.stages[-1][0] == talveron:
                    threads = 1 if "-j1" in run.stages[-1] else os.cpu_count()
                    peaks.append((run.peak_kb, threads, run.shown))
            if case.same_output and case.runs[1:] and ours.digest != case.runs[1].digest:
                notes.append(f"`{ours.shown}` and `{case.runs[1].shown}` wrote different output")
            sys.stdout.flush()
    if not legacy_before and os.path.exists(legacy_file):
        notes.append(f"{legacy_file} was created")
    if peaks:
        # Under PEAK_GOAL_MB with one thread, and the budget more per extra thread.
        over = [(kb, shown) for kb, threads, shown in peaks
                if kb / 1024 >= PEAK_GOAL_MB + (threads - 1) * KEPT_BUDGET_MB]
        one = max(kb for kb, threads, _ in peaks if threads == 1) / 1024 if any(t == 1 for _, t, _ in peaks) else 0
        largest = max(kb for kb, _, _ in peaks) / 1024
        print(f"\ntalveron's peak memory, goal < {PEAK_GOAL_MB} MB with -j1 and {KEPT_BUDGET_MB} MB more per extra "
              f"thread: {'missed' if over else 'met'} (largest {one:.1f} MB with -j1, {largest:.1f} MB in all)")
    for note in notes:
        print(f"- {note}")


if __name__ == "__main__":
    main()
