"""The command line of talveron-dask."""
import argparse
import os
import shutil
import sys

PROGRAM = "talveron-dask"
DEFAULT_BATCH_BYTES = 256 * 1024 * 1024

DESCRIPTION = """\
Print the web addresses of the anchors of HTML pages, as talveron -H does,
with the pages searched by talveron processes on the workers of a Dask
cluster. The standard output is byte for byte what `talveron -H -x WORD...
INPUT...` prints on one machine, and standard error carries the same
diagnostics (`talveron: PATH: reason`).

INPUT is a file or a directory (walked by talveron itself: *.htm and *.html
files, any case, in sorted order, links inside not followed). The inputs are
cut, in order, into batches of about --batch-bytes; each batch is searched
on a worker and the client writes the batches' records in batch order. A
worker that dies while searching a batch costs a rerun of that batch, never
a lost or doubled record.

Every worker runs talveron from the path of --talveron and opens the inputs
by the names the client gives it, in the client's current directory: the
inputs (and that directory) must be on a file system every worker reads at
the same paths (NFS, a cluster file system), and talveron must be installed
at the same path on every worker. With --local, the workers are processes
of this machine and both hold by themselves."""

EPILOG = """\
Exit status: 0 when every input was searched and every record written;
1 when an input could not be opened or read, a write failed or a batch
could not be done; 2 for usage errors."""


class UsageError(Exception):
    pass


def parse_size(text):
    """'1048576', '64K', '256M', '1G' (powers of 1024) as a number of bytes."""
    units = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40}
    t = text.strip().upper()
    if t.endswith("IB"):
        t = t[:-2]
    elif t.endswith("B") and len(t) > 1 and t[-2] in units:
        t = t[:-1]
    unit = t[-1:] if t[-1:] in units and t[-1:] else ""
    number = t[: len(t) - len(unit)]
    try:
        value = int(number) * units[unit]
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a size: '{text}' (a number of bytes, or with K, M or G)")
    if value < 1:
        raise argparse.ArgumentTypeError(f"the batch size must be at least one byte: '{text}'")
    return value


def positive_int(text):
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: '{text}'")
    if value < 1:
        raise argparse.ArgumentTypeError(f"must be at least 1: '{text}'")
    return value


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(2, f"{PROGRAM}: {message}\nTry '{PROGRAM} --help' for more information.\n")


def make_parser(default_talveron):
    parser = Parser(prog=PROGRAM, description=DESCRIPTION, epilog=EPILOG, allow_abbrev=False,
                    formatter_class=argparse.RawDescriptionHelpFormatter)
    where = parser.add_mutually_exclusive_group(required=True)
    where.add_argument("--scheduler", metavar="ADDRESS",
                       help="the address of a running dask-scheduler (tcp://host:8786)")
    where.add_argument("--local", metavar="N", type=positive_int,
                       help="start a cluster of N worker processes on this machine, one thread each")
    parser.add_argument("-x", "--exclude", metavar="WORD", action="append", default=[],
                        help="drop addresses that contain WORD (up to six, as talveron -x)")
    parser.add_argument("-o", "--output", metavar="FILE",
                        help="write the records to FILE, replaced only when every batch was done "
                             "and every input searched; else FILE stays as it was")
    parser.add_argument("--stats", action="store_true",
                        help="print a summary on standard error at the end: talveron's figures "
                             "summed over the batches, the run's time and MB/s, the cluster's "
                             "workers, batches and retries")
    parser.add_argument("-q", "--quiet", action="store_true",
                        help="no progress line and no summary (errors still show)")
    parser.add_argument("--batch-bytes", metavar="N", type=parse_size, default=DEFAULT_BATCH_BYTES,
                        help="the size of a batch in bytes of input, K, M or G allowed "
                             "(default 256M); a larger page is a batch of its own")
    parser.add_argument("--talveron", metavar="PATH", default=default_talveron,
                        help="the talveron program, at this path on the client and on every worker "
                             f"(default: the talveron installed beside {PROGRAM}, else the one on PATH)")
    parser.add_argument("--dask-log-level", metavar="LEVEL", default="critical",
                        choices=["debug", "info", "warning", "error", "critical"],
                        help="the level of distributed's own log messages (default: critical, "
                             "which keeps them quiet)")
    parser.add_argument("inputs", metavar="INPUT", nargs="+", help="a page or a directory of pages")
    return parser


def _join_exclude(argv):
    """`-x WORD` becomes `--exclude=WORD`, so that a WORD which begins with a
    dash is taken as talveron takes it."""
    out = []
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg == "--":
            out.extend(argv[i:])
            break
        if arg in ("-x", "--exclude") and i + 1 < len(argv):
            out.append("--exclude=" + argv[i + 1])
            i += 2
            continue
        out.append(arg)
        i += 1
    return out


def find_talveron(given, default):
    """The absolute path of the talveron program, or a UsageError."""
    if given and given != default:
        path = given if os.sep in given else shutil.which(given)
        if not path or not os.path.isfile(path) or not os.access(path, os.X_OK):
            raise UsageError(f"--talveron {given}: no such program")
        return os.path.abspath(path)
    if default and os.path.isfile(default) and os.access(default, os.X_OK):
        return os.path.abspath(default)
    path = shutil.which("talveron")
    if not path:
        raise UsageError("talveron not found beside talveron-dask nor on PATH: give --talveron PATH")
    return os.path.abspath(path)


def parse(argv, default_talveron=None):
    """The options as a namespace; exits with status 2 on a usage error."""
    parser = make_parser(default_talveron)
    options = parser.parse_intermixed_args(_join_exclude(argv))
    try:
        options.talveron = find_talveron(options.talveron, default_talveron)
    except UsageError as e:
        parser.error(str(e))
    if "-" in options.inputs:
        parser.error("standard input (-) cannot be searched on a cluster: name files or directories")
    if options.output == "":
        parser.error("an empty file name for -o")
    return options
