"""The output of a run: the batches' records, written in batch order to
standard output or to the file of --output."""
import errno
import os
import stat
import tempfile


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
            raise WriteFailed(path, e.errno)
        self.temporary_used = True
        if st is None:
            mask = os.umask(0)
            os.umask(mask)
            os.fchmod(self.fd, 0o666 & ~mask)
            return
        # The file's owner (when this process may give it) and its mode,
        # set after the owner because chown clears the set-id bits.
        if (st.st_uid, st.st_gid) != (os.geteuid(), os.getegid()):
            for uid, gid in ((st.st_uid, st.st_gid), (-1, st.st_gid)):
                try:
                    os.fchown(self.fd, uid, gid)
                    break
                except OSError:
                    pass
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
            if commit:
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
