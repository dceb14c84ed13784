"""The output of a run: the batches' records and diagnostics, written in batch
order as the batches complete, to standard output or, all or nothing, to the
file of -o."""
import errno
import os
import sys
import tempfile


class WriteFailed(Exception):
    """A write of the records failed; `broken_pipe` when the reader went away."""

    def __init__(self, what, error):
        super().__init__(f"{what}: {os.strerror(error)}")
        self.broken_pipe = error == errno.EPIPE


class Output:
    """Where the records go: standard output, or a temporary file beside FILE
    that replaces FILE only when the run commits it (the same rule and the
    same kind of name as talveron -o)."""

    def __init__(self, path=None):
        self.path = path
        self.temporary = None
        if path is None:
            self.fd = sys.stdout.fileno()
            return
        directory, base = os.path.split(path)
        try:
            self.fd, self.temporary = tempfile.mkstemp(prefix=f".{base}.talveron-dask-", dir=directory or ".")
        except OSError as e:
            raise WriteFailed(path, e.errno)
        # The mode a new file gets, or the one the file has.
        mask = os.umask(0)
        os.umask(mask)
        try:
            mode = os.stat(path).st_mode & 0o7777
        except OSError:
            mode = 0o666 & ~mask
        os.fchmod(self.fd, mode)

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
        """Closes the file of -o and renames it over FILE when `commit`, else
        removes it. Raises WriteFailed when the close or the rename fails."""
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
                    os.rename(temporary, self.path)
                    temporary = None
                except OSError as e:
                    raise WriteFailed(self.path, e.errno)
        finally:
            if temporary is not None:
                try:
                    os.unlink(temporary)
                except OSError:
                    pass


class InOrder:
    """Results that complete in any order, handed out in batch order: only
    those ahead of the next one to write are kept."""

    def __init__(self):
        self.next = 0
        self.waiting = {}

    def put(self, index, result):
        """Adds a result; returns the results that can now be written, in order."""
        self.waiting[index] = result
        ready = []
        while self.next in self.waiting:
            ready.append(self.waiting.pop(self.next))
            self.next += 1
        return ready

    def held_bytes(self):
        return sum(len(r.get("stdout") or b"") for r in self.waiting.values())
