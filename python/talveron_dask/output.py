"""The output of a run: the batches' records, written in batch order to
standard output or to the file of --output."""
import ctypes
import ctypes.util
import errno
import fcntl
import os
import signal
import stat
import tempfile

# The signals that would end the run half-way through a copy into FILE.
_ENDING_SIGNALS = {signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM, signal.SIGPIPE, signal.SIGXFSZ,
                   signal.SIGALRM, signal.SIGUSR1, signal.SIGUSR2}
_FALLOC_FL_KEEP_SIZE = 1


def _reserve(fd, size):
    """Reserves `size` bytes for the file open on `fd` without changing its
    length (fallocate's KEEP_SIZE, which Python does not offer). Raises
    OSError when there is no room; a file system that cannot tell is let be."""
    libc = ctypes.CDLL(ctypes.util.find_library("c"), use_errno=True)
    libc.fallocate.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_longlong, ctypes.c_longlong]
    if size > 0 and libc.fallocate(fd, _FALLOC_FL_KEEP_SIZE, 0, size) != 0:
        error = ctypes.get_errno()
        if error not in (errno.EOPNOTSUPP, errno.ENOSYS):
            raise OSError(error, os.strerror(error))


def copy_into(source_fd, target):
    """Writes the file open on `source_fd` into the file `target` in place,
    as talveron does: under an exclusive lock, its room reserved first (a
    full disk leaves it as it was), the ending signals held until the copy
    is whole, cut to the new length."""
    fd = os.open(target, os.O_WRONLY | os.O_CLOEXEC)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX)
        size = os.fstat(source_fd).st_size
        held = signal.pthread_sigmask(signal.SIG_BLOCK, _ENDING_SIGNALS)
        try:
            _reserve(fd, size)
            at = 0
            while at < size:
                chunk = os.pread(source_fd, min(1 << 20, size - at), at)
                if not chunk:
                    raise OSError(errno.EIO, os.strerror(errno.EIO))
                view = memoryview(chunk)
                while view:
                    n = os.pwrite(fd, view, at)
                    at += n
                    view = view[n:]
            os.ftruncate(fd, size)
        finally:
            os.close(fd)
            fd = -1
            signal.pthread_sigmask(signal.SIG_SETMASK, held)
    finally:
        if fd != -1:
            os.close(fd)


class WriteFailed(Exception):
    """A write of the records failed; `broken_pipe` when the reader went away."""

    def __init__(self, what, error):
        super().__init__(f"{what}: {os.strerror(error)}")
        self.broken_pipe = error == errno.EPIPE


def aliased_descriptor(path):
    """The descriptor that /dev/stdout, /dev/stderr, /dev/fd/N or
    /proc/self/fd/N name, or None: such a FILE is written through the
    descriptor itself, as talveron does."""
    if path == "/dev/stdout":
        return 1
    if path == "/dev/stderr":
        return 2
    for prefix in ("/dev/fd/", "/proc/self/fd/"):
        rest = path[len(prefix):]
        if path.startswith(prefix) and 0 < len(rest) <= 4 and rest.isdigit():
            return int(rest)
    return None


class Output:
    """Where the records go: standard output; a descriptor FILE names
    (/dev/stdout), or a FILE that is not a regular file (a device, a FIFO),
    written directly; else a temporary file beside FILE -- beside the file a
    link leads to, so that the link stays -- that takes FILE's mode and owner
    and replaces FILE when the run commits it (the same rule and the same kind
    of name as talveron --output)."""

    def __init__(self, path=None):
        self.path = path
        self.temporary = None
        self.target = None   # the path the temporary file replaces
        self.own_fd = False  # a descriptor opened here, closed at the end
        self.copy_back = False  # FILE is written into at the end, not replaced
        self.temporary_used = False  # FILE is replaced by a temporary file (not written directly)
        if path is None:
            self.fd = 1
            return
        alias = aliased_descriptor(path)
        if alias is not None:
            self.fd = alias
            return
        try:
            st = os.stat(path)
        except FileNotFoundError:
            st = None
        except OSError as e:
            raise WriteFailed(path, e.errno)
        if st is not None and not stat.S_ISREG(st.st_mode):
            try:
                self.fd = os.open(path, os.O_WRONLY | os.O_CLOEXEC | os.O_NOCTTY)
            except OSError as e:
                raise WriteFailed(path, e.errno)
            self.own_fd = True
            return
        self.target = os.path.realpath(path)
        directory, base = os.path.split(self.target)
        try:
            self.fd, self.temporary = tempfile.mkstemp(prefix=f".{base}.talveron-dask-", dir=directory)
        except OSError as e:
            if st is None or e.errno not in (errno.EACCES, errno.EPERM, errno.EROFS):
                raise WriteFailed(path, e.errno)
            # A directory this user cannot write, around a file they can:
            # the temporary file lies elsewhere and is copied into FILE.
            try:
                self.fd, self.temporary = tempfile.mkstemp(prefix=f".{base}.talveron-dask-")
            except OSError as e:
                raise WriteFailed(path, e.errno)
            self.copy_back = True
        self.temporary_used = True
        if st is None:
            mask = os.umask(0)
            os.umask(mask)
            os.fchmod(self.fd, 0o666 & ~mask)
            return
        # The file's owner (when this process may give it) and its mode,
        # set after the owner because chown clears the set-id bits.
        # A file whose owner could not be kept, or whose other hard links
        # would keep the old contents, is written into at the end instead.
        if (st.st_uid, st.st_gid) != (os.geteuid(), os.getegid()):
            try:
                os.fchown(self.fd, st.st_uid, st.st_gid)
            except OSError:
                self.copy_back = True
        if st.st_nlink > 1:
            self.copy_back = True
        os.fchmod(self.fd, stat.S_IMODE(st.st_mode))

    def write(self, data):
        view = memoryview(data)
        while view:
            try:
                n = os.write(self.fd, view)
            except InterruptedError:
                continue
            except OSError as e:
                raise WriteFailed(self.path or "write error", e.errno)
            if n <= 0:
                raise WriteFailed(self.path or "write error", errno.EIO)
            view = view[n:]

    def finish(self, commit):
        """Closes the file of --output and renames it over FILE when
        `commit`, else removes it. Raises WriteFailed when the close or the
        rename fails."""
        if self.own_fd:
            self.own_fd = False
            try:
                os.close(self.fd)
            except OSError as e:
                raise WriteFailed(self.path, e.errno)
        if self.temporary is None:
            return
        temporary, self.temporary = self.temporary, None
        try:
            try:
                os.close(self.fd)
            except OSError as e:
                commit = False
                raise WriteFailed(self.path, e.errno)
            if commit and self.copy_back:
                try:
                    with open(temporary, "rb") as written:
                        copy_into(written.fileno(), self.target)
                except OSError as e:
                    raise WriteFailed(self.path, e.errno)
            elif commit:
                try:
                    os.rename(temporary, self.target)
                    temporary = None
                except OSError as e:
                    raise WriteFailed(self.path, e.errno)
        finally:
            if temporary is not None:
                try:
                    os.unlink(temporary)
                except OSError:
                    pass
