"""talveron's --stats=json summary: read out of a batch's standard error into
numbers, summed over the batches, and printed with the cluster's figures."""
import json

from talveron_dask.limits import TALVERON_KEYWORD_SLOTS

PREFIX = "talveron-dask: "

# The summary object's counts, and ours.
_COUNTS = [("inputs_searched", "searched"), ("inputs_failed", "failed"), ("bytes", "bytes"),
           ("records_written", "records"), ("dropped_too_long", "too_long"), ("dropped_unfinished", "unfinished")]


def empty_summary():
    return {"searched": 0, "failed": 0, "bytes": 0, "records": 0, "too_long": 0, "unfinished": 0,
            "archives": 0, "archive_records": 0, "https": 0,
            "excluded": {}, "passed": {}, "links": None, "statuses": None, "elapsed": 0.0}

# Counts that talveron gives only when they are not 0.
_SOMETIMES = [("archives_searched", "archives"), ("records_searched", "archive_records"),
              ("https_passed_over", "https")]


def _count(value):
    return isinstance(value, int) and not isinstance(value, bool) and value >= 0


def read_summary(line):
    """The numbers of one line that is talveron's summary object, or None
    when the line is not one."""
    if not line.startswith(b"{"):
        return None
    try:
        found = json.loads(line.decode("utf-8"))
    except ValueError:  # UnicodeDecodeError is one
        return None
    if not isinstance(found, dict) or not all(_count(found.get(key)) for key, _ in _COUNTS):
        return None
    elapsed, excluded = found.get("elapsed_seconds"), found.get("excluded_by_keyword")
    if not isinstance(elapsed, (int, float)) or isinstance(elapsed, bool) or not isinstance(excluded, list):
        return None
    summary = empty_summary()
    for key, ours in _COUNTS:
        summary[ours] = found[key]
    for key, ours in _SOMETIMES:
        if key in found:
            if not _count(found[key]):
                return None
            summary[ours] = found[key]
    summary["elapsed"] = float(elapsed)
    for entry in excluded:
        if not isinstance(entry, dict) or not _count(entry.get("count")) or \
                entry.get("slot") not in range(1, TALVERON_KEYWORD_SLOTS + 1):
            return None
        summary["excluded"][entry["slot"]] = entry["count"]
    for entry in found.get("records_passed_over", []):
        if not isinstance(entry, dict) or not _count(entry.get("count")) or not isinstance(entry.get("type"), str):
            return None
        summary["passed"][entry["type"]] = entry["count"]
    if "links_passed_over" in found:  # pages read by the HTML standard
        summary["links"] = {}
        for entry in found["links_passed_over"]:
            if not isinstance(entry, dict) or not _count(entry.get("count")) or not isinstance(entry.get("kind"), str):
                return None
            summary["links"][entry["kind"]] = entry["count"]
    if "statuses_passed_over" in found:  # web archives' responses of the statuses not asked for (--status)
        summary["statuses"] = {}
        for entry in found["statuses_passed_over"]:
            if not isinstance(entry, dict) or not _count(entry.get("count")) or not _count(entry.get("status")):
                return None
            summary["statuses"][entry["status"]] = entry["count"]
    return summary


def split_summary(stderr):
    """A batch's standard error as (diagnostics, summary): the summary is the
    last line that is talveron's summary object, as numbers, and the
    diagnostics everything else, as it is; the summary is None when there is
    none (talveron did not end as it should)."""
    end = len(stderr)
    while end > 0:
        start = stderr.rfind(b"\n", 0, end - 1) + 1
        summary = read_summary(stderr[start:end])
        if summary is not None:
            return stderr[:start] + stderr[end:], summary
        end = start
    return stderr, None


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
        for key in ("searched", "failed", "bytes", "records", "too_long", "unfinished", "archives", "archive_records",
                    "https"):
            s[key] += summary[key]
        s["elapsed"] += summary["elapsed"]
        for slot, count in summary["excluded"].items():
            s["excluded"][slot] = s["excluded"].get(slot, 0) + count
        for kind, count in summary["passed"].items():
            s["passed"][kind] = s["passed"].get(kind, 0) + count
        for key in ("links", "statuses"):
            if summary[key] is not None:
                s[key] = s[key] or {}
                for kind, count in summary[key].items():
                    s[key][kind] = s[key].get(kind, 0) + count

    def escaped_keywords(self):
        """The keywords of the slots, as talveron's summary shows them: bytes
        other than printable ASCII, and the backslash, as \\xNN."""
        def escaped(word):
            data = word.encode("utf-8", "surrogateescape") if isinstance(word, str) else word
            return "".join(chr(b) if 0x20 < b < 0x7F and b != 0x5C else f"\\x{b:02X}" for b in data)
        return [escaped(word) for word in self.keywords[:TALVERON_KEYWORD_SLOTS]]

    def lines(self, seconds):
        """The summary, as talveron prints its own, prefixed talveron-dask:."""
        s = self.summary
        rows = [("inputs searched", f"{s['searched']:,}"), ("inputs failed", f"{s['failed']:,}"),
                ("bytes", f"{s['bytes']:,}"), ("records written", f"{s['records']:,}")]
        if s["archives"] or s["archive_records"]:
            rows += [("archives searched", f"{s['archives']:,}"), ("records searched", f"{s['archive_records']:,}")]
        for slot, word in enumerate(self.escaped_keywords(), 1):
            if word:
                rows.append((f"excluded by keyword {slot}", f"{s['excluded'].get(slot, 0):,} ({word})"))
        rows += [("dropped as too long", f"{s['too_long']:,}"), ("dropped as unfinished", f"{s['unfinished']:,}")]
        if s["https"]:
            rows.append(("https passed over", f"{s['https']:,} (--https takes them)"))
        rows += [("records passed over", f"{count:,} ({kind})") for kind, count in sorted(s["passed"].items())]
        rows += [("links passed over", f"{count:,} ({kind})") for kind, count in sorted((s["links"] or {}).items())]
        rows += [("responses passed over", f"{count:,} (status {status})")
                 for status, count in sorted((s["statuses"] or {}).items())]
        rows += [("elapsed", f"{seconds:.3f} s"),
                 ("throughput", f"{s['bytes'] / 1e6 / seconds if seconds > 0 else 0.0:.1f} MB/s"),
                 ("workers", f"{self.workers:,}"), ("batches", f"{self.batches:,}"),
                 ("batches retried", f"{len(self.retried):,}"),
                 ("search time, summed", f"{s['elapsed']:.3f} s")]
        if self.cluster_start is not None:
            rows.append((self.cluster_label, f"{self.cluster_start:.3f} s"))
        return [f"{PREFIX}{label:<21}  {value}\n" for label, value in rows]

    def json_line(self, seconds):
        """--stats=json: talveron's object, its keys in its order, summed over
        the batches, then the cluster's figures; one line."""
        s = self.summary
        figures = {"inputs_searched": s["searched"], "inputs_failed": s["failed"], "bytes": s["bytes"],
                   "records_written": s["records"]}
        if s["archives"] or s["archive_records"]:
            figures.update(archives_searched=s["archives"], records_searched=s["archive_records"])
        figures["excluded_by_keyword"] = [{"slot": slot, "keyword": word, "count": s["excluded"].get(slot, 0)}
                                          for slot, word in enumerate(self.escaped_keywords(), 1) if word]
        figures.update(dropped_too_long=s["too_long"], dropped_unfinished=s["unfinished"])
        figures["records_passed_over"] = [{"type": kind, "count": count} for kind, count in sorted(s["passed"].items())]
        if s["links"] is not None:
            figures["links_passed_over"] = [{"kind": kind, "count": count}
                                            for kind, count in sorted(s["links"].items())]
        if s["statuses"] is not None:
            figures["statuses_passed_over"] = [{"status": status, "count": count}
                                               for status, count in sorted(s["statuses"].items())]
        if s["https"]:
            figures["https_passed_over"] = s["https"]
        # The seconds to the millisecond, as talveron writes them (12.345).
        seconds_keys = [("elapsed_seconds", seconds)]
        ours = {"workers": self.workers, "batches": self.batches, "batches_retried": len(self.retried)}
        tail = [("search_seconds", s["elapsed"])]
        if self.cluster_start is not None:
            key = "connect_seconds" if self.cluster_label == "connect" else "cluster_start_seconds"
            tail.append((key, self.cluster_start))

        def dumped(pairs):
            return [f"{json.dumps(key)}:{json.dumps(value, separators=(',', ':'), ensure_ascii=False)}"
                    for key, value in pairs]

        def timed(pairs):
            return [f'"{key}":{max(value, 0.0):.3f}' for key, value in pairs]

        return "{" + ",".join(dumped(figures.items()) + timed(seconds_keys) + dumped(ours.items()) +
                              timed(tail)) + "}\n"
