"""Times talveron -z on compressed inputs side by side with its yardsticks,
in one run, as bench/cli_compare.py times the plain ones (best wall time of
the rounds, after an untimed warm-up; peak memory in a run of its own):

  a crawl's web archive (crawl.warc.gz, many gzip members), records to a
  file, against `zcat FILE | wc -l`, the decompressor that talveron uses
  alone (`igzip -dc FILE`, writing nowhere) and ripgrep's `rg -z`; the same
  with --https --tsv; and a page compressed by zstd (real.html.zst) against
  `zstd -dc FILE` writing nowhere; and --html --tsv against `zcat FILE |
  wc -l` and bench/pylinks.py, the script a Python user would write
  (lxml.html for the links, urljoin for the base).

Prints a Markdown table (MB/s of decompressed input), talveron's peak memory
against its goal, and the archive's response records searched per minute of
one core (its CPU time, all threads counted).

    python3 bench/archive_compare.py TALVERON CORPUS_DIR [ROUNDS]

CORPUS_DIR holds what bench/make_archive.py writes.
"""
import gzip
import os
import resource
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cli_compare import TABLE_HEAD, Case, Run, measure, print_rows  # noqa: E402

PEAK_GOAL_MB = 16
WITHIN = 1 / 1.1  # "within 10% of": at least this ratio
PATTERN = '<a href="http://[^"]*"'
HTTPS_PATTERN = '<a href="https?://[^"]*"'


def unpacked_size_and_pages(path):
    """The decompressed size of a gzip file, and its response records."""
    size = pages = 0
    tail = b""
    with gzip.open(path, "rb") as f:
        while block := f.read(1 << 22):
            size += len(block)
            pages += (tail + block).count(b"WARC-Type: response\r\n")
            tail = block[-32:]
    return size, pages


def cases(talveron, corpus, out):
    found = []
    warc = "crawl.warc.gz"
    if os.path.isfile(os.path.join(corpus, warc)):
        size, pages = unpacked_size_and_pages(os.path.join(corpus, warc))
        packed = os.path.getsize(os.path.join(corpus, warc))
        title = f"{warc} ({packed / 1e6:,.0f} MB, {size / 1e6:,.0f} MB unpacked, {pages:,} pages)"
        for extra, pattern, label in (([], PATTERN, "web archive"),
                                      (["--https", "--tsv"], HTTPS_PATTERN, "web archive, --https --tsv")):
            shown = " ".join(["talveron", "-z"] + extra + [warc, "> out.txt"])
            found.append(Case(
                f"{label}, {title}", size,
                [Run(shown, [[talveron, "-z"] + extra + [warc]]),
                 Run(f"zcat {warc} | wc -l", [["zcat", warc], ["wc", "-l"]], to_file=False),
                 Run(f"igzip -dc {warc} > /dev/null", [["igzip", "-dc", warc]], to_file=False),
                 Run(f"rg -z -uuu -oNI -i '{pattern}' {warc} > out.txt",
                     [["rg", "-z", "-uuu", "-oNI", "-i", pattern, warc]])],
                [3.0, WITHIN, 5.0]))
        found[-1].pages = found[-2].pages = pages
        # The standards mode, against the same decompression and the script a
        # Python user would write (lxml.html and urljoin).
        found.append(Case(
            f"web archive, --html --tsv, {title}", size,
            [Run(f"talveron -z --html --tsv {warc} > out.txt", [[talveron, "-z", "--html", "--tsv", warc]]),
             Run(f"zcat {warc} | wc -l", [["zcat", warc], ["wc", "-l"]], to_file=False),
             Run(f"python3 bench/pylinks.py {warc} > out.txt",
                 [[sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "pylinks.py"), warc]])],
            [3.0, 10.0]))
        found[-1].pages = pages
    zst = "real.html.zst"
    if os.path.isfile(os.path.join(corpus, zst)):
        size = int(subprocess.run(["zstd", "-lv", zst], cwd=corpus, capture_output=True, text=True)
                   .stdout.split("Decompressed Size:")[1].split("(")[1].split()[0].replace(",", ""))
        found.append(Case(
            f"zstd page, {zst} ({size / 1e6:,.0f} MB unpacked)", size,
            [Run(f"talveron -z {zst} > out.txt", [[talveron, "-z", zst]]),
             Run(f"zstd -dc {zst} > /dev/null", [["zstd", "-dc", zst]], to_file=False)],
            [WITHIN]))
    for case in found:
        kept = [k for k, run in enumerate(case.runs) if k == 0 or shutil.which(run.stages[-1][0])]
        case.runs = [case.runs[k] for k in kept]
        case.goals = [case.goals[k - 1] for k in kept[1:]]
    return found


def cpu_seconds(argv, cwd):
    """User and system time of one run of `argv` (every thread)."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run(argv, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    talveron = os.path.abspath(sys.argv[1])
    corpus = os.path.abspath(sys.argv[2])
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    notes, peaks, rates = [], [], []
    print(TABLE_HEAD)
    with tempfile.TemporaryDirectory() as workdir:
        for case in cases(talveron, corpus, os.path.join(workdir, "out.txt")):
            measure(case, workdir, corpus, rounds)
            ours = case.runs[0]
            print_rows(case, notes)
            if ours.peak_kb is not None:
                peaks.append(ours.peak_kb / 1024)
            if getattr(case, "pages", None):
                seconds = cpu_seconds(ours.stages[0], corpus)
                rates.append((ours.shown, case.pages / (seconds / 60), case.pages / (ours.best / 60)))
            sys.stdout.flush()
    if peaks:
        print(f"\ntalveron's peak memory, goal < {PEAK_GOAL_MB} MB: "
              f"{'met' if max(peaks) < PEAK_GOAL_MB else 'missed'} (largest {max(peaks):.1f} MB)")
    for shown, per_core, per_minute in rates:
        print(f"- `{shown}`: {per_core:,.0f} pages per minute per core of CPU time "
              f"({per_minute:,.0f} a minute of wall time), beside the 300,000 a minute a thread of the Go harvester")
    for note in notes:
        print(f"- {note}")


if __name__ == "__main__":
    main()
