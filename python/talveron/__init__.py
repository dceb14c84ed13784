"""talveron: the web addresses of HTML pages, compressed pages and web
archives, harvested by libtalveron (the library of the `talveron` tool),
called through ctypes.

    import talveron
    for link in talveron.links("crawl.warc.gz", html=True):
        print(link.page, link.url)

links() yields one Link per record, with the fields of `talveron --json`;
url() is the WHATWG URL Standard's parse of the library; version() the
module's version. The library does the work: this module turns its calls
into a generator and its failures into talveron.Error.
"""
import codecs
import collections
import ctypes
import errno
import io
import os
import queue
import stat
import struct
import threading

from talveron import _library

__all__ = ["Link", "Error", "links", "url", "version", "LINK_KINDS"]

# A record's fields: the keys of talveron --json, in its order.
Link = collections.namedtuple("Link", "page url href element attribute text rel offset")
Link.__doc__ = """A record: `page` the input's name (a path as given, a file
object's name or `label`), or a web archive's record's WARC-Target-URI;
`url` the address; with html=True
also `href` (the value as written, references decoded), `element` ("a",
"area", "img", "meta", ...; "http" for a header), `attribute` ("href",
"src", ...; "location" or "refresh" for a header), `text` (an a's text),
`rel` and `offset` (the byte of the tag's '<' in its page; -1 for a
header). A field the record does not have is None, as null or a missing
key is in the tool's JSON."""

# TALVERON_LINK_* of talveron.h, by the names of talveron --links=LIST.
LINK_KINDS = {"a": 0x01, "area": 0x02, "redirect": 0x04, "frame": 0x08, "link": 0x10, "form": 0x20,
              "resource": 0x40}

KEYWORD_SLOTS = 6        # TALVERON_KEYWORD_SLOTS
KEYWORD_LINE_MAX = 255   # TALVERON_KEYWORD_LINE_MAX

# talveron.h's numbers.
_DECOMPRESS, _HTML = 1, 2
_ARCHIVE, _RECORD = 1, 2
_READ_FAILED, _OUT_OF_MEMORY, _BAD_ARGUMENTS = 1, 3, 4

# How many records travel from the search's thread to the caller at once,
# and how many such chunks may wait: what a slow caller holds in memory.
_CHUNK = 256
_CHUNKS_WAITING = 4

_MALFORMED_SAID = 10  # an archive's malformed records said one by one, as talveron says them
_UNNAMED = "(standard input)"  # talveron's name for what it reads from a pipe


class Error(Exception):
    """A search that failed, with talveron's diagnostics: "NAME: No such
    file or directory", "NAME: gzip data cut short at byte N ...".
    `messages` holds each of them; str() is them one per line."""

    def __init__(self, messages):
        self.messages = list(messages)
        super().__init__("\n".join(self.messages))


_Records = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)
_Progress = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_longlong)


class _LinkFields(ctypes.Structure):
    _fields_ = [("url", ctypes.c_void_p), ("url_length", ctypes.c_size_t),
                ("href", ctypes.c_void_p), ("href_length", ctypes.c_size_t),
                ("element", ctypes.c_char_p), ("attribute", ctypes.c_char_p),
                ("text", ctypes.c_void_p), ("text_length", ctypes.c_size_t),
                ("rel", ctypes.c_void_p), ("rel_length", ctypes.c_size_t),
                ("offset", ctypes.c_longlong)]


# The callback takes the fields' address: one unpack of the structure's
# bytes reads them at a fraction of what ctypes' field access costs.
_OnLink = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_LINK_LAYOUT = struct.Struct("@PNPNPPPNPNq")
assert _LINK_LAYOUT.size == ctypes.sizeof(_LinkFields)


class _Sink(ctypes.Structure):
    _fields_ = [("context", ctypes.c_void_p), ("records", _Records),
                ("rejected", ctypes.c_void_p), ("progress", _Progress), ("lf_line_ends", ctypes.c_int),
                ("message", ctypes.c_void_p), ("https", ctypes.c_int), ("fold_case", ctypes.c_int),
                ("format", ctypes.c_int), ("links", ctypes.c_int), ("unique", ctypes.c_int),
                ("no_fragment", ctypes.c_int), ("link", _OnLink)]


class _Result(ctypes.Structure):
    _fields_ = [("status", ctypes.c_int), ("read_errno", ctypes.c_int), ("bytes", ctypes.c_longlong),
                ("next", ctypes.c_longlong), ("https_passed_over", ctypes.c_longlong)]


_Begin = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int, ctypes.c_char_p)
_End = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_int, ctypes.POINTER(_Result), ctypes.c_char_p)
_Text = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p)


class _InputSink(ctypes.Structure):
    _fields_ = [("search", _Sink), ("begin", _Begin), ("end", _End), ("problem", _Text), ("passed", ctypes.c_void_p),
                ("status", ctypes.c_void_p)]


_Status = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_int)


_Read = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t)

_lib = None


def _library_handle():
    """libtalveron.so.1: the one the build or the install put beside this
    package (_library.PATH), else the dynamic loader's."""
    global _lib
    if _lib is None:
        path = _library.PATH
        if path and not os.path.isabs(path):
            path = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), path))
        lib = ctypes.CDLL(path if path and os.path.exists(path) else "libtalveron.so.1")
        lib.talveron_version.restype = ctypes.c_char_p
        lib.talveron_url.restype = ctypes.c_longlong
        lib.talveron_url.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_size_t]
        lib.talveron_harvest_path.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                                              ctypes.POINTER(_InputSink), ctypes.POINTER(_Result)]
        lib.talveron_harvest_input.argtypes = [ctypes.c_int, ctypes.c_longlong, ctypes.c_char_p, ctypes.c_int,
                                               ctypes.c_char_p, ctypes.POINTER(_InputSink), ctypes.POINTER(_Result)]
        lib.talveron_harvest_links.argtypes = [ctypes.c_int, ctypes.c_longlong, ctypes.c_char_p, ctypes.c_char_p,
                                               ctypes.c_int, ctypes.c_char_p, ctypes.POINTER(_InputSink),
                                               ctypes.POINTER(_Result)]
        _lib = lib
    return _lib


def _stream_call():
    lib = _library_handle()
    call = lib.talveron_harvest_stream
    call.argtypes = [_Read, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p,
                     ctypes.POINTER(_InputSink), ctypes.POINTER(_Result)]
    return call


def version():
    """The module's version, "1.0.0.1"."""
    return _library_handle().talveron_version().decode("ascii")


def url(input, base=None):
    """The WHATWG URL Standard's parse of `input` against `base` (None: no
    base), as talveron --html resolves a link: what new URL(input,
    base).href gives in a browser. `input` and `base` are str (or bytes,
    UTF-8). Raises ValueError when either is no URL."""
    lib = _library_handle()
    given = input.encode("utf-8") if isinstance(input, str) else bytes(input)
    against = None if base is None else base.encode("utf-8") if isinstance(base, str) else bytes(base)
    if b"\0" in given or (against is not None and b"\0" in against):
        raise ValueError("a URL holds no 0 byte")
    size = 256
    while True:
        buffer = ctypes.create_string_buffer(size)
        length = lib.talveron_url(given, against, buffer, size)
        if length < 0:
            raise ValueError(f"not a URL: {input!r}" + (f" against {base!r}" if base is not None else ""))
        if length < size:
            return buffer.raw[:length].decode("utf-8", "replace")
        size = length + 1


def _percent_encoded(error):
    """Bytes that are not UTF-8, in an address: %XX each, as the tool's JSON
    writes them."""
    return "".join(f"%{b:02X}" for b in error.object[error.start:error.end]), error.end


codecs.register_error("talveron-percent", _percent_encoded)


def _text(pointer, length):
    if not pointer:
        return None
    return ctypes.string_at(pointer, length).decode("utf-8", "replace")


def _keyword_line(keywords):
    """The keywords as the tool checks them and joins them for the module."""
    if isinstance(keywords, (str, bytes)):
        keywords = [keywords]
    words = [os.fsencode(w) for w in keywords]
    if len(words) > KEYWORD_SLOTS:
        raise ValueError("more than six keywords: the module has six keyword slots")
    for word in words:
        if b" " in word or b"\0" in word:
            raise ValueError(f"keyword {word!r} contains a space or a 0 byte, which would split it")
    line = b" ".join(words)
    if len(line) > KEYWORD_LINE_MAX:
        raise ValueError(f"the keywords make a keyword line of {len(line)} bytes; "
                         f"the module reads at most {KEYWORD_LINE_MAX}")
    return line


def _statuses(given):
    """The HTTP statuses of `status`: a comma list of statuses and ranges
    ("200-299,304", as talveron --status takes it), or an iterable of ints
    and ranges; as a set."""
    parts = given.split(",") if isinstance(given, str) else list(given)
    wanted = set()
    for part in parts:
        try:
            if isinstance(part, range):
                low, high = part.start, part.stop - 1
            elif isinstance(part, int):
                low = high = part
            else:
                low, _, high = part.strip().partition("-")
                low, high = int(low), int(high or low)
        except (TypeError, ValueError):
            low, high = 0, -1
        if not 100 <= low <= high <= 599:
            raise ValueError(f"status takes HTTP statuses and ranges of them, from 100 to 599, not {part!r}")
        wanted.update(range(low, high + 1))
    return wanted


def _link_bits(names):
    if isinstance(names, str):
        names = names.split(",")
    bits = 0
    for name in names:
        if name == "all":
            bits |= sum(LINK_KINDS.values())
            continue
        if name not in LINK_KINDS:
            raise ValueError(f"{name!r} is no kind of link: {', '.join(LINK_KINDS)}")
        bits |= LINK_KINDS[name]
    return bits


class _Search:
    """One call of the library on a thread of its own, handing its records
    to the caller's thread in chunks through a bounded queue; stopped when
    the caller stops taking them."""

    def __init__(self, given, name):
        self.html = given.html
        self.name = name
        self.stopped = False         # the search is to stop: closed, or a callback failed
        self.closed = False          # the caller takes no more records
        self.failure = None          # an exception raised by a callback
        self.messages = []           # the diagnostics, as talveron says them
        self.malformed = 0           # an archive's malformed records
        self.page = None             # the record of an archive being searched
        self.record_name = None
        self.chunk = []
        self.queue = queue.Queue(_CHUNKS_WAITING)
        sink = _InputSink()
        sink.search.records = _Records(lambda c, b, n: 1 if self.stopped else 0)
        sink.search.progress = _Progress(self._progress)
        sink.search.lf_line_ends = 1
        sink.search.https = 1 if given.https else 0
        sink.search.links = given.links
        sink.search.unique = 1 if given.unique else 0
        sink.search.no_fragment = 1 if given.no_fragment else 0
        sink.search.link = _OnLink(self._link)
        sink.begin = _Begin(self._begin)
        sink.end = _End(self._end)
        sink.problem = _Text(self._problem)
        if given.statuses is not None:
            statuses = given.statuses
            self.status_function = _Status(lambda context, code: 1 if code in statuses else 0)
            sink.status = ctypes.cast(self.status_function, ctypes.c_void_p)
        self.sink = sink
        self.result = _Result()

    # The library's callbacks, on the search's thread. None may raise: an
    # exception is kept and stops the search.

    def _put(self, item):
        """Waits for room in the queue, unless the caller has gone."""
        while not self.closed:
            try:
                self.queue.put(item, timeout=0.1)
                return
            except queue.Full:
                continue

    def _flush(self):
        if self.chunk:
            chunk, self.chunk = self.chunk, []
            self._put(chunk)

    def _link(self, context, fields):
        try:
            (url, url_length, href, href_length, element, attribute, text, text_length, rel, rel_length,
             offset) = _LINK_LAYOUT.unpack(ctypes.string_at(fields, _LINK_LAYOUT.size))
            address = ctypes.string_at(url, url_length).decode("utf-8", "talveron-percent")
            if self.html:
                record = Link(self.page, address, _text(href, href_length),
                              ctypes.string_at(element).decode("utf-8", "replace") if element else None,
                              ctypes.string_at(attribute).decode("utf-8", "replace") if attribute else None,
                              _text(text, text_length), _text(rel, rel_length), offset)
            else:
                record = Link(self.page, address, None, None, None, None, None, None)
            self.chunk.append(record)
            if len(self.chunk) >= _CHUNK:
                self._flush()
        except BaseException as e:
            self.failure = self.failure or e
            self.stopped = True
        return 1 if self.stopped else 0

    def _progress(self, context, count):
        # After each read of the input: what was found goes out.
        try:
            self._flush()
        except BaseException as e:
            self.failure = self.failure or e
            self.stopped = True

    def _begin(self, context, entry, name):
        # A page is named as the input; an archive's records by their
        # WARC-Target-URI.
        if entry == _RECORD:
            self.record_name = name or b""
            self.page = self.record_name.decode("utf-8", "replace")
        elif entry != _ARCHIVE:
            self.page = (name or b"").decode("utf-8", "replace")
        return 1 if self.stopped else 0

    def _end(self, context, entry, result, problem):
        try:
            if entry == _RECORD:
                said = f"{self.name}: {self.record_name.decode('utf-8', 'replace')}"
                self.page = None
            else:
                said = self.name
                if self.malformed > _MALFORMED_SAID:
                    self.messages.append(f"{said}: {self.malformed - _MALFORMED_SAID} more malformed WARC records")
            if problem:
                self.messages.append(f"{said}: {problem.decode('utf-8', 'replace')}")
            elif entry != _RECORD and result.contents.status == _OUT_OF_MEMORY:
                self.messages.append(f"{said}: out of memory")
            self._flush()
        except BaseException as e:
            self.failure = self.failure or e
            self.stopped = True

    def _problem(self, context, text):
        # As talveron: the first few said, then how many more.
        self.malformed += 1
        if self.malformed <= _MALFORMED_SAID:
            self.messages.append(f"{self.name}: {text.decode('utf-8', 'replace')}")

    # The caller's side.

    def run(self, call):
        """Runs `call(sink pointer, result)` on a thread and yields the records."""
        def search():
            try:
                call(ctypes.byref(self.sink), self.result)
                self._flush()
            except BaseException as e:
                self.failure = self.failure or e
            finally:
                self._put(None)

        thread = threading.Thread(target=search, name="talveron-search", daemon=True)
        thread.start()
        try:
            while True:
                chunk = self.queue.get()
                if chunk is None:
                    break
                yield from chunk
        finally:
            # An early close: the callbacks answer "stop" from now on, and
            # the chunks that wait are dropped so that none waits for room.
            self.closed = self.stopped = True
            while thread.is_alive():
                try:
                    self.queue.get(timeout=0.1)
                except queue.Empty:
                    pass
            thread.join()
        self._raise()

    def _raise(self):
        if self.failure is not None:
            raise self.failure
        status = self.result.status
        messages = list(self.messages)
        if status == _READ_FAILED:
            messages.append(f"{self.name}: {os.strerror(self.result.read_errno or errno.EIO)}")
        elif status == _OUT_OF_MEMORY and not any(m.endswith("out of memory") for m in messages):
            messages.append(f"{self.name}: out of memory")
        elif status == _BAD_ARGUMENTS:
            messages.append(f"{self.name}: the library refused the search's arguments")
        if messages:
            raise Error(messages)


def links(source, html=False, base=None, keywords=(), https=False, links=None, unique=False, no_fragment=False,
          status=None, label=None):
    """Yields the records of `source` as Link tuples, as they are found: the
    records `talveron --json` prints for it, field for field.

    `source` is a path (str, bytes or os.PathLike), a file object (read
    from where its descriptor stands through fileno(), else through its
    read()) or bytes-like data (bytes, bytearray, memoryview). It is read as
    the tool reads an input: a page, a compressed stream (gzip, zstd,
    bzip2, xz), or a web archive, record by record (each record's `page`
    its WARC-Target-URI).

    html: read pages by the HTML standard and resolve their links by the
    WHATWG URL Standard (talveron --html), against `base` (an http or https
    URL; without it only absolute links become records, as with the
    tool's file: URL of a file). keywords: up to six words; an address
    that contains one is dropped. https: by the module's rules, take
    <a href="https:// anchors too. links: with html, the kinds of links
    that become records, names of LINK_KINDS ("a", "area", "redirect",
    "frame", "link", "form", "resource") or "all" (default a and area),
    as a list or one comma list. unique: each address once per page.
    no_fragment: addresses without their #fragment.
    status: only a web archive's HTTP responses of these statuses are
    searched ("200-299,304", or ints and ranges; talveron --status).
    label: the name of a file object or data, their records' `page` and the
    name in messages (by default a file object's name, else "(standard
    input)", as talveron names what it reads from a pipe).

    The search runs on a thread of its own and hands the records over a few
    hundred at a time, so that memory stays bounded however large the
    input; closing the generator (or leaving a loop over it) stops the
    search. Raises talveron.Error, after the records found, when the input
    could not be read or had faults ("NAME: No such file or directory", a
    corrupt compressed stream, a malformed record of an archive), and
    ValueError for arguments the tool would refuse.
    """
    if base is not None and not html:
        raise ValueError("base goes with html=True")
    if links is not None and not html:
        raise ValueError("links goes with html=True")
    if base is not None and not url(base).startswith(("http:", "https:")):
        raise ValueError(f"base takes an http or https URL, not {base!r}")
    given = _Given(html, https, _link_bits(links) if links is not None else 0, unique, no_fragment,
                   _statuses(status) if status is not None else None,
                   _DECOMPRESS | (_HTML if html else 0), _keyword_line(keywords))

    # The page's address, against which its links resolve. Without a base
    # the tool gives a file its file: URL, which turns relative links into
    # file: addresses, none of them a record: no address gives the same.
    address = base.encode("utf-8") if base is not None else b"" if html else None

    if isinstance(source, (str, os.PathLike)):
        path = os.fsencode(source)
        return _from_path(path, os.fsdecode(path), given, address)
    if hasattr(source, "read"):
        file_name = getattr(source, "name", None)
        named = isinstance(file_name, (str, bytes)) and os.path.exists(file_name)
        name = label if label is not None else os.fsdecode(file_name) if named else _UNNAMED
        fd = _descriptor(source)
        if fd is not None:
            return _from_descriptor(source, fd, name, given, address)
        return _from_reader(source, name, given, address)
    if _is_buffer(source):
        return _from_data(source, _UNNAMED if label is None else label, given, address)
    raise TypeError(f"links() takes a path, a file object or bytes, not {type(source).__name__}")


# What a call asked for, as the library takes it.
_Given = collections.namedtuple("_Given", "html https links unique no_fragment statuses flags keyword_line")


def _is_buffer(source):
    try:
        memoryview(source)
        return True
    except TypeError:
        return False


def _descriptor(f):
    """The descriptor under a file object, moved to where the object stands
    (a buffered file may have read ahead), or None when it has none."""
    try:
        fd = f.fileno()
    except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
        return None
    try:
        if f.seekable():
            os.lseek(fd, f.tell(), os.SEEK_SET)
    except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
        pass
    return fd


def _from_path(path, name, given, address):
    lib = _library_handle()

    def call(sink, result):
        if not given.html:
            lib.talveron_harvest_path(path, given.flags, given.keyword_line, sink, ctypes.byref(result))
            return
        # talveron_harvest_links needs a descriptor: the file is opened here,
        # and one that cannot be opened fails as talveron_harvest_path fails.
        try:
            fd = os.open(path, os.O_RDONLY | os.O_CLOEXEC)
        except OSError as e:
            result.status, result.read_errno = _READ_FAILED, e.errno
            return
        try:
            st = os.fstat(fd)
            size = st.st_size if stat.S_ISREG(st.st_mode) else -1
            lib.talveron_harvest_links(fd, size, path, address, given.flags, given.keyword_line, sink,
                                       ctypes.byref(result))
        finally:
            os.close(fd)
    return _Search(given, name).run(call)


def _from_descriptor(f, fd, name, given, address):
    lib = _library_handle()
    encoded = os.fsencode(name)

    def call(sink, result):
        st = os.fstat(fd)
        size = -1
        if stat.S_ISREG(st.st_mode):
            size = max(0, st.st_size - os.lseek(fd, 0, os.SEEK_CUR))
        if given.html:
            lib.talveron_harvest_links(fd, size, encoded, address, given.flags, given.keyword_line, sink,
                                       ctypes.byref(result))
        else:
            lib.talveron_harvest_input(fd, size, encoded, given.flags, given.keyword_line, sink, ctypes.byref(result))

    def records():
        try:
            yield from _Search(given, name).run(call)
        finally:
            # The file object stands where its descriptor was left.
            try:
                if f.seekable():
                    f.seek(os.lseek(fd, 0, os.SEEK_CUR))
            except (AttributeError, OSError, ValueError, io.UnsupportedOperation):
                pass
    return records()


def _stream_search(reader, name, given, address, keep=None):
    """talveron_harvest_stream over `reader(buffer address, size)`, which
    returns a count of bytes put there (0 at the end)."""
    call_stream = _stream_call()
    search = _Search(given, name)

    def read(context, buffer, size):
        if search.stopped:
            return 0
        try:
            return reader(buffer, size)
        except BaseException as e:
            search.failure = search.failure or e
            search.stopped = True
            ctypes.set_errno(errno.EIO)
            return -1

    callback = _Read(read)

    def call(sink, result):
        call_stream(callback, None, os.fsencode(name), address, given.flags, given.keyword_line, sink,
                    ctypes.byref(result))

    def records():
        held = (callback, keep)  # alive until the search has ended
        yield from search.run(call)
        del held
    return records()


def _from_reader(f, name, given, address):
    readinto = getattr(f, "readinto", None)

    def reader(buffer, size):
        size = min(size, 1 << 30)
        if readinto is not None:
            return readinto(memoryview((ctypes.c_char * size).from_address(buffer)).cast("B")) or 0
        data = f.read(size)
        if isinstance(data, str):
            raise TypeError("links() reads bytes: open the file in binary mode")
        if len(data) > size:
            raise ValueError(f"read({size}) returned {len(data)} bytes")
        ctypes.memmove(buffer, data, len(data))
        return len(data)

    return _stream_search(reader, name, given, address)


def _from_data(data, name, given, address):
    view = memoryview(data)
    view = view.cast("B") if view.c_contiguous else memoryview(view.tobytes())
    if isinstance(data, bytes):
        keep = data
        base = ctypes.cast(ctypes.c_char_p(data), ctypes.c_void_p).value
    elif not view.readonly:
        keep = (ctypes.c_char * len(view)).from_buffer(view)
        base = ctypes.addressof(keep)
    else:
        keep = view.tobytes()  # ctypes reaches no read-only buffer but bytes'
        base = ctypes.cast(ctypes.c_char_p(keep), ctypes.c_void_p).value
    total = len(view)
    at = [0]

    def reader(buffer, size):
        n = min(size, total - at[0])
        if n > 0:
            ctypes.memmove(buffer, base + at[0], n)
            at[0] += n
        return n

    return _stream_search(reader, name, given, address, keep=(keep, view))
