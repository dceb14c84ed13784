"""talveron's --stats summary: read out of a batch's standard error into
numbers, summed over the batches, and printed with the cluster's figures."""
import re

from talveron_dask.limits import TALVERON_KEYWORD_SLOTS

PREFIX = "talveron-dask: "
SUMMARY_START = b"talveron: inputs searched "

_COUNTS = [("inputs searched", "searched"), ("inputs failed", "failed"), ("bytes", "bytes"),
           ("records written", "records")]
_DROPPED = [("dropped as too long", "too_long"), ("dropped as unfinished", "unfinished")]
_NUMBER = rb"([0-9][0-9,]*)"


def empty_summary():
    return {"searched": 0, "failed": 0, "bytes": 0, "records": 0, "too_long": 0, "unfinished": 0,
            "excluded": {}, "elapsed": 0.0}


def _line(label, value=_NUMBER, after=b""):
    return re.compile(b"talveron: " + re.escape(label.encode()) + b" +" + value + re.escape(after) + b"\n")


def split_summary(stderr, keywords):
    """A batch's standard error as (diagnostics, summary): the summary is what
    follows the last line that begins it, read line by line in the order
    talveron prints it (`keywords` tell which keyword lines it has), as
    numbers; None when there is none or it cannot be read (talveron did not
    end as it should)."""
    at = stderr.rfind(b"\n" + SUMMARY_START)
    if at >= 0:
        at += 1
    elif stderr.startswith(SUMMARY_START):
        at = 0
    else:
        return stderr, None
    expected = [(_line(label), key) for label, key in _COUNTS]
    for slot, word in enumerate(keywords[:TALVERON_KEYWORD_SLOTS], 1):
        if word:
            word = word.encode("utf-8", "surrogateescape") if isinstance(word, str) else word
            expected.append((re.compile(b"talveron: excluded by keyword " + str(slot).encode() + b"  " + _NUMBER +
                                        b" " + re.escape(b"(" + word + b")") + b"\n"), slot))
    expected += [(_line(label), key) for label, key in _DROPPED]
    expected += [(_line("elapsed", rb"([0-9.]+)", b" s"), "elapsed"), (_line("throughput", rb"[0-9.]+", b" MB/s"), None)]
    summary = empty_summary()
    cursor = at
    for pattern, key in expected:
        m = pattern.match(stderr, cursor)
        if not m:
            return stderr, None
        cursor = m.end()
        if key == "elapsed":
            summary["elapsed"] = float(m.group(1))
        elif isinstance(key, int):
            summary["excluded"][key] = int(m.group(1).replace(b",", b""))
        elif key:
            summary[key] = int(m.group(1).replace(b",", b""))
    if cursor != len(stderr):
        return stderr, None
    return stderr[:at], summary


class Totals:
    """The figures of a run."""

    def __init__(self, keywords):
        self.keywords = list(keywords)
        self.summary = empty_summary()
        self.batches = 0       # batches written
        self.retried = set()   # the batches run again after their worker died, each once
        self.workers = 0
        self.cluster_start = None  # seconds the cluster took to start (--local) or to answer
        self.cluster_label = "cluster start"
        self.seconds = None        # the run's, from its start to the last write

    def add(self, summary):
        s = self.summary
        for key in ("searched", "failed", "bytes", "records", "too_long", "unfinished"):
            s[key] += summary[key]
        s["elapsed"] += summary["elapsed"]
        for slot, count in summary["excluded"].items():
            s["excluded"][slot] = s["excluded"].get(slot, 0) + count

    def lines(self, seconds):
        """The summary, as talveron prints its own, prefixed talveron-dask:."""
        s = self.summary
        rows = [("inputs searched", f"{s['searched']:,}"), ("inputs failed", f"{s['failed']:,}"),
                ("bytes", f"{s['bytes']:,}"), ("records written", f"{s['records']:,}")]
        for slot, word in enumerate(self.keywords[:TALVERON_KEYWORD_SLOTS], 1):
            if word:
                rows.append((f"excluded by keyword {slot}", f"{s['excluded'].get(slot, 0):,} ({word})"))
        rows += [("dropped as too long", f"{s['too_long']:,}"), ("dropped as unfinished", f"{s['unfinished']:,}"),
                 ("elapsed", f"{seconds:.3f} s"),
                 ("throughput", f"{s['bytes'] / 1e6 / seconds if seconds > 0 else 0.0:.1f} MB/s"),
                 ("workers", f"{self.workers:,}"), ("batches", f"{self.batches:,}"),
                 ("batches retried", f"{len(self.retried):,}"),
                 ("search time, summed", f"{s['elapsed']:.3f} s")]
        if self.cluster_start is not None:
            rows.append((self.cluster_label, f"{self.cluster_start:.3f} s"))
        return [f"{PREFIX}{label:<21}  {value}\n" for label, value in rows]
