"""The command line of talveron-dask.

One table (OPTIONS) makes both the parser and --help, and tells where each
option goes: to every batch's talveron (SEARCH), to the `talveron
--list-inputs` that names the inputs (WALK), to both (BOTH), to
talveron-dask itself (OWN), or nowhere, refused because it needs one talveron
process (REFUSED). The options that talveron-dask shares with talveron have
talveron's names, letters and meanings."""
import argparse
import os
import shutil
import sys
import textwrap

from talveron_dask.limits import TALVERON_KEYWORD_LINE_MAX

PROGRAM = "talveron-dask"
DEFAULT_BATCH_BYTES = 256 * 1024 * 1024
DEFAULT_CONNECT_TIMEOUT = 5.0
DEFAULT_WAIT_WORKERS = 10.0

SEARCH, WALK, BOTH, OWN, REFUSED = "search", "walk", "both", "own", "refused"
ONE_PROCESS = "needs one talveron process: run talveron itself"


class Row:
    """An option of the table, or a heading of the help (name None).

    letter: its one-letter form or None; name: its long name; value: the
    value's name, or None for a flag; kind: where it goes; dest and const:
    what it sets in the namespace (a flag sets const, an option with a value
    sets the value, or appends it with append=True); parse: a function that
    reads the value; aliases: more long names; exactly: the one value that
    the option may take (--NAME alone, or --NAME=VALUE), which sets
    dest_VALUE too; optional: the value may be left out (--NAME alone, or
    --NAME=VALUE, never the next word), as getopt_long's optional_argument."""

    def __init__(self, letter, name, value=None, help=None, kind=OWN, dest=None, const=True, append=False,
                 default=None, parse=None, aliases=(), why=None, exactly=None, optional=False):
        self.letter, self.name, self.value, self.help, self.kind = letter, name, value, help, kind
        self.dest = dest or (name.replace("-", "_") if name else None)
        self.const, self.append, self.default, self.parse = const, append, default, parse
        self.aliases, self.why, self.exactly, self.optional = tuple(aliases), why, exactly, optional

    def flags(self):
        return ([f"-{self.letter}"] if self.letter else []) + [f"--{n}" for n in (self.name,) + self.aliases]


def heading(text):
    return Row(None, None, help=text)


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


def seconds(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number of seconds: '{text}'")
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"must be a number of seconds above 0: '{text}'")
    return value


def log_level(text):
    levels = ("debug", "info", "warning", "error", "critical")
    if text not in levels:
        raise argparse.ArgumentTypeError(f"'{text}' is none of {', '.join(levels)}")
    return text


OPTIONS = [
    heading("Keywords:"),
    Row("x", "exclude-keyword", "WORD", kind=BOTH, dest="keywords", append=True, help=(
        "drop addresses that contain WORD; up to six, in keyword slot order; an\n"
        "empty WORD keeps its slot empty; a WORD may not contain a space, and the\n"
        f"words joined by spaces may not pass {TALVERON_KEYWORD_LINE_MAX} bytes")),
    Row(None, "https", kind=SEARCH, help=(
        "also take <a href=\"https:// anchors (any case), by the same rules; their\n"
        "records begin with https://")),
    Row(None, "html", kind=BOTH, help=(
        "read pages as a browser does instead (the HTML standard's tokenizer,\n"
        "the WHATWG URL Standard): the records are the http and https addresses\n"
        "that the page's a and area tags lead to, resolved against its base")),
    Row(None, "base", "URL", kind=BOTH, help=(
        "with --html: the pages' address, against which their links are resolved\n"
        "(an http or https URL; else a file's file: URL; a WARC record's is its\n"
        "WARC-Target-URI); refused with a directory INPUT, whose pages talveron\n"
        "gives each its own address")),
    Row(None, "max-address", "SIZE", kind=BOTH, help=(
        "with --html: pass over a link whose address would be longer than SIZE\n"
        "(default 64K, above what web servers take; K, M, G as powers of 1024;\n"
        "1K to 1G)")),
    Row(None, "links", "LIST", kind=BOTH, help=(
        "with --html: the links that become records, a comma list of a, area,\n"
        "redirect (3xx Location and Refresh headers, meta refresh), frame, link,\n"
        "form, resource (img, script, ... src); default a,area")),
    Row(None, "status", "LIST", kind=BOTH, help=(
        "search only a web archive's responses whose HTTP status is in LIST,\n"
        "as talveron takes it")),
    Row(None, "unique", kind=BOTH, help="each address once per page (of an archive: per record)"),
    Row(None, "no-fragment", kind=BOTH, help="addresses without their #fragment"),
    heading("Output:"),
    Row("O", "output", "FILE", help=(
        "write the records to FILE instead of standard output; FILE is replaced\n"
        "when the run has ended (through a link, which stays; a device is\n"
        "written directly)")),
    Row(None, "all-or-nothing", help="with --output: leave FILE unchanged unless every input was searched"),
    Row("o", "only-matching", help="accepted as grep's: records are addresses only anyway"),
    Row("N", "no-line-number", help="accepted as ripgrep's: records have no line numbers anyway"),
    Row(None, "color", "WHEN", kind=WALK, optional=True, aliases=("colour",), help=(
        "accepted as grep's: WHEN is never, always or auto (the default);\n"
        "nothing is colored (also --colour)")),
    Row("H", "with-filename", dest="with_filename", const=1, default=-1, help=(
        "put the input's name and a colon before each record (the default for\n"
        "more than one input or a directory)")),
    Row("h", "no-filename", dest="with_filename", const=0, default=-1, help="do not"),
    Row(None, "archive-names", kind=SEARCH, help=(
        "name each record of a web archive ARCHIVE{URI}, after the archive it\n"
        "came from (as ugrep names an archive's members)")),
    Row(None, "label", "NAME", kind=REFUSED, why=ONE_PROCESS, help="refused: standard input is not searched"),
    Row("Z", "null", kind=SEARCH, help="a 0 byte after each name instead of the colon (or newline)"),
    Row("c", "count", kind=SEARCH, help="print NAME:N, the count of records of each input"),
    Row("l", "files-with-matches", kind=SEARCH, help="print the names of the inputs that give a record"),
    Row("L", "files-without-match", kind=SEARCH, help="print the names of the inputs that give none"),
    Row(None, "crlf", kind=SEARCH, help="end records with CR LF instead of LF"),
    Row(None, "tsv", kind=SEARCH, help=(
        "print each record as NAME, a tab and the address (a link graph's edges;\n"
        "a backslash and control bytes in NAME as \\\\, \\t, \\n, \\r, ..., \\xNN)")),
    Row(None, "json", kind=BOTH, help=(
        "print each record as one JSON object on a line: page (when names are\n"
        "shown), url and, with --html, href, element, attribute, text, rel, offset")),
    Row(None, "rejected", "FILE", kind=REFUSED, why=ONE_PROCESS, help="refused: one process writes that file"),
    heading("Inputs:"),
    Row("z", "search-zip", kind=BOTH, help=(
        "walk the page kinds and .warc with .gz, .zst, .bz2 or .xz after them as\n"
        "well (a compressed input is decompressed, -z or not)")),
    Row(None, "decoder-memory", "SIZE", kind=BOTH, help=(
        "the most memory one stream's decoder may take in each batch's\n"
        "talveron (default 128M; K, M, G as powers of 1024; 1M to 1T)")),
    Row("r", "recursive", kind=WALK, help="accepted as grep's: directories are always walked"),
    Row("a", "text", help="accepted as grep's: pages are read as bytes anyway"),
    Row("i", "ignore-case", kind=SEARCH, help=(
        "match the keywords (-x) with ASCII letters in either case (anchors are\n"
        "matched in any case anyway)")),
    Row("g", "glob", "GLOB", kind=WALK, help="as ripgrep's: --include=GLOB, or --exclude=GLOB for !GLOB"),
    Row(None, "hidden", help="accepted as ripgrep's: walks take hidden files anyway"),
    Row(None, "no-ignore", help="accepted as ripgrep's: walks read no ignore files anyway"),
    Row("u", "unrestricted", help="accepted as ripgrep's: walks hold nothing back anyway (-uu, -uuu too)"),
    Row("R", "dereference-recursive", kind=WALK, help="also follow links met inside a walk"),
    Row(None, "include", "GLOB", kind=WALK, help=(
        "take only files of a walk whose base name matches GLOB (replaces the\n"
        "default set; may be given more than once)")),
    Row(None, "exclude", "GLOB", kind=WALK, help="skip files whose base name matches GLOB"),
    Row(None, "exclude-dir", "GLOB", kind=WALK, help="skip directories of a walk whose base name matches GLOB"),
    Row(None, "all-files", kind=WALK, help="take every file of a walk, not only the default set"),
    Row(None, "files0-from", "FILE", kind=WALK, dest="files0_from", help=(
        "more INPUTs, their names read from FILE, each ended by a 0 byte\n"
        "(not - : standard input is not searched)")),
    Row(None, "list-inputs", help=(
        "print the names of the inputs (and of directories that cannot be\n"
        "read, where they are met), each ended by a 0 byte, and search nothing")),
    heading("Messages and exit status:"),
    Row("q", "quiet", kind=SEARCH, aliases=("silent",), help="print nothing; exit 0 at the first record"),
    Row("s", "no-messages", kind=BOTH, help="no diagnostics about inputs that cannot be read"),
    Row(None, "no-progress", help="no progress line"),
    Row(None, "stats", exactly="json", help=(
        "print a summary on standard error at the end: talveron's figures\n"
        "summed over the batches, the run's time and MB/s, the cluster's\n"
        "workers, batches and retried batches; --stats=json prints it as one\n"
        "JSON object on one line: talveron's keys, then workers, batches,\n"
        "batches_retried, search_seconds (summed over the batches) and\n"
        "cluster_start_seconds (or with --scheduler connect_seconds)")),
    Row(None, "messages", kind=REFUSED, why="shows the module's message boxes of one process",
        help="refused: the module's messages belong to one process"),
    Row(None, "out-txt", kind=REFUSED, why=ONE_PROCESS, help="refused: the legacy call searches one INPUT"),
    Row(None, "keyword-line", "LINE", kind=REFUSED, why="goes with --out-txt, which " + ONE_PROCESS,
        help="refused, as --out-txt"),
    Row("j", "threads", "N", kind=SEARCH, parse=positive_int, help=(
        "search with N threads in each batch's talveron (default 1: the\n"
        "cluster's workers, one per core, keep the cores busy)")),
    heading("The cluster:"),
    Row(None, "scheduler", "ADDRESS", help="the address of a running Dask scheduler (dask scheduler; tcp://host:8786)"),
    Row(None, "local", "N", parse=positive_int, help=(
        "start a cluster of N worker processes on this machine, one thread\n"
        "each (the default, without --scheduler: one per core)")),
    Row(None, "connect-timeout", "SECONDS", parse=seconds, default=DEFAULT_CONNECT_TIMEOUT, help=(
        "give up on a scheduler that does not answer within SECONDS (default 5)")),
    Row(None, "wait-workers", "SECONDS", parse=seconds, default=DEFAULT_WAIT_WORKERS, help=(
        "give up when the cluster has had no worker for SECONDS (default 10)")),
    Row(None, "batch-bytes", "N", parse=parse_size, default=DEFAULT_BATCH_BYTES, help=(
        "the size of a batch in bytes of input, K, M or G allowed (default\n"
        "256M); a larger page is a batch of its own")),
    Row(None, "talveron", "PATH", help=(
        "the talveron program, at this path on the client and on every worker\n"
        "(default: the talveron installed beside talveron-dask, else the one on\n"
        "PATH)")),
    Row(None, "dask-log-level", "LEVEL", parse=log_level, default="critical", help=(
        "the level of distributed's own log messages: debug, info, warning,\n"
        "error or critical (the default, which keeps them quiet)")),
    heading("Other:"),
    Row(None, "help", help="show this help"),
    Row(None, "version", help="show talveron's version"),
]

INTRODUCTION = """\
Usage: talveron-dask [OPTION...] INPUT...
Print the web addresses of the anchors of HTML pages, as talveron does, with
the pages searched by talveron processes on the workers of a Dask cluster.
Standard output is byte for byte what `talveron OPTION... INPUT...` prints
on one machine, standard error carries the same diagnostics, and the exit
status is the same.

INPUT is a file or a directory, walked by talveron itself (--list-inputs).
The inputs are cut, in order, into batches of about --batch-bytes; each
batch is searched on a worker by `talveron --files0-from=-` and its records
stream back to be written in batch order. A worker that dies while searching
a batch costs a rerun of that batch, never a lost or doubled record.

Every worker runs talveron from the path of --talveron and opens the inputs
by the names the client gives it, in the client's current directory: the
inputs (and that directory) must be on a file system every worker reads at
the same paths, and talveron installed at the same path on every worker.
With --local, or with neither --local nor --scheduler, the workers are
processes of this machine and both hold by themselves.
Options may come anywhere before --.
"""

CLOSING = """
Exit status, as talveron's: 0 when a record was found, 1 when none was, 2 on
trouble (an input that could not be opened or read, a batch that could not
be done, a write that failed, a cluster that cannot be reached or has no
workers, a usage error), even when records were found; with -q, 0 at the
first record.
"""

HELP_COLUMN = 29
HELP_WIDTH = 80


def help_text():
    """--help: the introduction, the table's rows in talveron's layout (each
    row's help filled to 80 columns), the closing."""
    text = INTRODUCTION
    for row in OPTIONS:
        if row.name is None:
            text += f"\n{row.help}\n"
            continue
        head = (f"  -{row.letter}, " if row.letter else "      ") + f"--{row.name}"
        if row.value:
            head += f"[={row.value}]" if row.optional else f"={row.value}"
        if row.exactly:
            head += f", --{row.name}={row.exactly}"
        indent = " " * HELP_COLUMN
        text += head + "\n" + indent if len(head) + 2 > HELP_COLUMN else head + " " * (HELP_COLUMN - len(head))
        text += ("\n" + indent).join(textwrap.wrap(" ".join(row.help.split()), HELP_WIDTH - HELP_COLUMN)) + "\n"
    return text + CLOSING


class Forward(argparse.Action):
    """An option of the table: it sets its dest and, when it goes to
    talveron, is kept in the order given as talveron's argument."""

    def __init__(self, option_strings, dest, row=None, **kwargs):
        self.row = row
        super().__init__(option_strings, dest, nargs=1 if row.value else "?" if row.exactly else 0, **kwargs)
        # An optional value comes as --NAME=VALUE, or --NAME=ALONE (_join_values).

    def __call__(self, parser, namespace, values, option_string=None):
        row = self.row
        if row.kind == REFUSED:
            parser.error(f"{option_string} {row.why}")
        if row.exactly:
            # _join_values wrote --NAME alone as --NAME=ALONE.
            if values not in (ALONE, row.exactly):
                parser.error(f"option '--{row.name}' takes no value")
            setattr(namespace, row.dest, True)
            setattr(namespace, f"{row.dest}_{row.exactly}", values == row.exactly)
            return
        value = None
        if row.optional and values[0] == ALONE:
            values = []
            value = True
        elif row.value:
            value = values[0]
            if row.parse:
                try:
                    value = row.parse(value)
                except argparse.ArgumentTypeError as e:
                    parser.error(f"{option_string}: {e}")
        argument = f"--{row.name}" + (f"={values[0]}" if row.value and values else "")
        if row.kind in (SEARCH, BOTH):
            namespace.search_args.append(argument)
        if row.kind in (WALK, BOTH):
            namespace.walk_args.append(argument)
        if row.append:
            getattr(namespace, row.dest).append(value)
        else:
            setattr(namespace, row.dest, value if row.value else row.const)


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.exit(2, f"{PROGRAM}: {message}\nTry '{PROGRAM} --help' for more information.\n")

    def format_help(self):
        return help_text()


def make_parser():
    parser = Parser(prog=PROGRAM, add_help=False, allow_abbrev=True)
    for row in OPTIONS:
        if row.name is None:
            continue
        parser.add_argument(*row.flags(), action=Forward, row=row, dest=row.dest,
                            default=[] if row.append else (row.default if row.value or row.default is not None
                                                           else False))
    parser.add_argument("inputs", metavar="INPUT", nargs="*")
    parser.set_defaults(search_args=[], walk_args=[],
                        **{f"{row.dest}_{row.exactly}": False for row in OPTIONS if row.name and row.exactly})
    return parser


VALUED = {flag: row for row in OPTIONS if row.name and row.value and not row.optional for flag in row.flags()}
LONG = {flag: row for row in OPTIONS if row.name for flag in row.flags() if flag.startswith("--")}
ALONE = "\0"  # the value of an option of one value given alone (no argument holds a 0 byte)


# Prefixes that name one option though they begin more: --stat is --stats,
# as it was before --status came (talveron takes it so too).
KEPT_PREFIXES = {"--stat": "--stats"}


def _long(arg):
    """The row that `arg`, --NAME without a value, names: by its long name
    or (as getopt_long and argparse take them) a prefix of exactly one name."""
    arg = KEPT_PREFIXES.get(arg, arg)
    if arg in LONG:
        return LONG[arg]
    if arg.startswith("--") and len(arg) > 2 and "=" not in arg:
        # A prefix of two names of one row (--colo) is ambiguous, as to talveron.
        flags = [flag for flag in LONG if flag.startswith(arg)]
        if len(flags) == 1:
            return LONG[flags[0]]
    return None


def _valued(arg):
    """The row of an option with a value named by `arg`: its letter, its
    long name, or a prefix of exactly one long name."""
    if arg in VALUED:
        return VALUED[arg]
    row = _long(arg)
    return row if row is not None and row.value else None


def _join_values(argv):
    """`-x WORD` and `--output FILE` become `--exclude-keyword=WORD` and
    `--output=FILE`, so that a value which begins with a dash is taken as
    talveron takes it; `--stats` or `--color` alone becomes `--NAME=ALONE`,
    so that the word after it is never its value."""
    out = []
    i = 0
    while i < len(argv):
        arg = argv[i]
        if arg == "--":
            out.extend(argv[i:])
            break
        name, equals, value = arg.partition("=")
        if equals and name in KEPT_PREFIXES:
            arg = f"{KEPT_PREFIXES[name]}={value}"
        row = _long(arg)
        if row is not None and row.optional:
            out.append(f"--{row.name}={ALONE}")
            i += 1
            continue
        if row is not None and row.exactly:
            out.append(f"--{row.name}={ALONE}")
            i += 1
            continue
        row = _valued(arg)
        if row is not None and i + 1 < len(argv):
            out.append(f"--{row.name}={argv[i + 1]}")
            i += 2
            continue
        out.append(arg)
        i += 1
    return out


def base_refusal(options):
    """Why --base cannot go with these inputs, or None. talveron gives each
    page of a directory it walks its own address, the directory's URL joined
    with the page's path below it; a batch's talveron is handed the pages by
    name, and would give them all URL itself."""
    if options.base is None:
        return None
    named = list(options.inputs)
    if options.files0_from is not None:
        try:
            with open(options.files0_from, "rb") as f:
                named += [os.fsdecode(name) for name in f.read().split(b"\0") if name]
        except OSError:
            pass  # talveron says why, as it lists the inputs
    directory = next((name for name in named if os.path.isdir(name)), None)
    if directory is None:
        return None
    return (f"--base with a directory INPUT ('{directory}'): each page's address is its path below the "
            "directory, which " + ONE_PROCESS)


def find_talveron(given, default):
    """The absolute path of the talveron program, or a UsageError."""
    if given:
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


def local_workers():
    """One worker per core this process may run on."""
    try:
        return max(1, len(os.sched_getaffinity(0)))
    except (AttributeError, OSError):
        return max(1, os.cpu_count() or 1)


def parse(argv, default_talveron=None, stdin_is_terminal=None):
    """The options as a namespace; exits with status 2 on a usage error."""
    parser = make_parser()
    # As talveron's getopt_long: everything after "--" is an INPUT, even
    # when it begins with a dash.
    joined = _join_values(argv)
    rest = []
    if "--" in joined:
        at = joined.index("--")
        joined, rest = joined[:at], joined[at + 1:]
    options = parser.parse_intermixed_args(joined)
    options.inputs = list(options.inputs) + rest
    if options.help:
        sys.stdout.write(help_text())
        sys.stdout.flush()
        parser.exit(0)
    try:
        options.talveron = find_talveron(options.talveron, default_talveron)
    except UsageError as e:
        parser.error(str(e))
    if options.version:
        return options
    if options.scheduler is not None and options.local is not None:
        parser.error("--scheduler and --local cannot be used together")
    options.local_default = options.scheduler is None and options.local is None
    if options.local_default:
        options.local = local_workers()
    if options.files0_from == "-":
        parser.error("--files0-from=- reads standard input, which " + ONE_PROCESS)
    if "-" in options.inputs:
        parser.error("standard input (-) cannot be searched on a cluster: name files or directories")
    if not options.inputs and options.files0_from is None:
        # talveron reads standard input then, or walks the current directory
        # when standard input is a terminal.
        terminal = sys.stdin is not None and sys.stdin.isatty() if stdin_is_terminal is None else stdin_is_terminal
        if not terminal:
            parser.error("no INPUT: standard input cannot be searched on a cluster: name files or directories")
        options.inputs = ["."]
    if options.output == "" or options.files0_from == "":
        parser.error("an empty file name for --output or --files0-from")
    if options.output == "-":
        options.output = None
    if options.all_or_nothing and options.output is None:
        parser.error("--all-or-nothing goes with --output=FILE")
    return options
