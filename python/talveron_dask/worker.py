"""The work of a worker: one batch searched by a talveron process, its
records kept in a file of the worker and handed to the client in chunks.

A batch's task returns few records with its result; more stay in a file of
the run's directory in the worker's own directory, which the client reads
in chunks through a handler of the worker (Handlers): the handler runs on
the worker's event loop, so that a read never waits for the worker's
threads to finish another batch.

This module and talveron_dask.stats travel to the workers by value (see
cluster.ship_code), so a worker needs only Python with distributed and the
talveron program: it imports nothing of talveron_dask.

talveron never outlives the worker that started it, nor the task: it is
killed by the kernel when the worker's thread that started it ends
(PR_SET_PDEATHSIG, set by setpriv or in the child; a worker that dies takes
its threads along), and by the task when distributed cancels it (the client
was interrupted or left) or the worker closes."""
import ctypes
import mmap
import os
import select
import signal
import socket
import subprocess
import tempfile
import uuid

from talveron_dask.stats import split_summary

POLL_SECONDS = 0.2
# Records up to this size come back with the batch's result; more stay in
# the worker's file and are read in chunks of CHUNK_BYTES.
INLINE_BYTES = 1 << 20
CHUNK_BYTES = 4 << 20
PR_SET_PDEATHSIG = 1


class Cancelled(Exception):
    """The task was cancelled while talveron ran: talveron was killed."""


def _this_worker():
    try:
        from distributed import get_worker
        return get_worker()
    except (ImportError, ValueError):
        return None


def _still_wanted(worker, key):
    """Whether the task `key` is still to be done on `worker`: not
    cancelled, released or forgotten, and the worker not closing."""
    if worker is None or key is None:
        return True
    status = getattr(getattr(worker, "status", None), "name", "")
    if status in ("closing", "closed", "failed"):
        return False
    state = getattr(worker, "state", worker)
    task = state.tasks.get(key)
    return task is not None and task.state not in ("cancelled", "released", "forgotten", "error")


_prctl = None
_setpriv = []


def _with_parent_death_signal(argv):
    """`argv` and the preexec_fn that make the kernel kill talveron when the
    worker's thread that starts it ends: util-linux's setpriv --pdeathsig
    KILL in front of it when the worker has setpriv (an exec costs less
    than a preexec_fn, which makes Python fork and run Python code in the
    child), else a prctl in preexec_fn."""
    if not _setpriv:
        import shutil
        _setpriv.append(shutil.which("setpriv", path="/usr/bin:/bin:" + os.environ.get("PATH", "")))
    if _setpriv[0]:
        return [_setpriv[0], "--pdeathsig", "KILL"] + argv, None
    return argv, _die_with_parent()


def _die_with_parent():
    """The function that the child runs between fork and exec: the kernel
    kills it when the thread that started it ends, and it ends at once when
    that already happened."""
    global _prctl
    if _prctl is None:
        _prctl = ctypes.CDLL(None, use_errno=True).prctl
    prctl = _prctl
    parent = os.getpid()

    def in_child():
        prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
        if os.getppid() != parent:
            os._exit(1)

    return in_child


def _ended(child, seconds):
    """Waits up to `seconds` for `child` to end; whether it ended. A
    descriptor of the process (pidfd) wakes the wait the moment it ends;
    without one, Popen.wait polls."""
    try:
        fd = os.pidfd_open(child.pid)
    except (AttributeError, OSError):
        try:
            child.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False
    try:
        poller = select.poll()
        poller.register(fd, select.POLLIN)
        poller.poll(seconds * 1000)
    finally:
        os.close(fd)
    return child.poll() is not None


def _remove(path):
    try:
        os.unlink(path)
    except OSError:
        pass


def _memory_file(name, directory):
    """A file in memory (memfd) for talveron's names and diagnostics, so that
    a full scratch disk costs neither, else a temporary file of
    `directory`."""
    try:
        return os.fdopen(os.memfd_create(name, os.MFD_CLOEXEC), "w+b")
    except (AttributeError, OSError):
        return tempfile.TemporaryFile(dir=directory)


def whole_records(out, size, shape):
    """The length of the records of the file open as `out` (`size` bytes)
    up to the end of the last whole one: those of a talveron that died
    part-way through a record. shape["end"] ends a record (a newline, or
    the 0 byte of -l -Z); with shape["named"] each record is NAME, a 0 byte
    and the rest up to a newline, and a NAME may hold newlines (-Z)."""
    if size == 0:
        return 0
    with mmap.mmap(out.fileno(), size, prot=mmap.PROT_READ) as m:
        if not shape.get("named"):
            return m.rfind(shape.get("end", b"\n")) + 1
        whole = 0
        while True:
            name_end = m.find(b"\0", whole)
            end = m.find(b"\n", name_end + 1) if name_end >= 0 else -1
            if end < 0:
                return whole
            whole = end + 1


def _count(out, size, byte):
    """How many times `byte` occurs in the first `size` bytes of `out`."""
    if size == 0:
        return 0
    n = 0
    with mmap.mmap(out.fileno(), size, prot=mmap.PROT_READ) as m:
        at = m.find(byte)
        while at >= 0:
            n += 1
            at = m.find(byte, at + 1)
    return n


def run_directory(worker, run_id):
    """Where the records of the run's batches wait on `worker`."""
    base = getattr(worker, "local_directory", None) or tempfile.gettempdir()
    return os.path.join(base, f"talveron-dask-{run_id}")


def run_batch(talveron, argv, names, cwd, index, run_id, shape=None):
    """Runs `talveron ARGV --files0-from=-` in `cwd` with the batch's `names`
    (each ended by a 0 byte) on its standard input (a lone name as an
    operand instead) and its standard output in
    a file of the worker. Returns its diagnostics, its summary read out into
    numbers (None when it printed none), its exit status, where it ran, the
    size of its records and the records themselves when they are few, else
    the file that holds them (read and removed through Handlers).

    A talveron that did not end as it should (a signal, no summary, a
    failed write of its own) may have been cut part-way through a record:
    its records are kept up to the last whole one (see whole_records, which
    reads `shape`), and "cut" says how many bytes went. Its diagnostics
    are kept in memory, never on the disk that may be full. With
    shape["count"], "ends" counts the bytes that end its records (the
    inputs -L listed).

    A task cancelled while talveron runs kills it and leaves no file behind
    (nor the run's directory, when the client has removed what it held)."""
    worker = _this_worker()
    if worker is not None:
        # Each attempt says that it began: the client counts the batches
        # that began more than once.
        worker.log_event(f"talveron-dask-{run_id}", index)
    try:
        from distributed.worker import thread_state
        key = getattr(thread_state, "key", None)
    except ImportError:
        key = None
    directory = run_directory(worker, run_id)
    os.makedirs(directory, exist_ok=True)
    fd, spill = tempfile.mkstemp(prefix=f"talveron-batch-{index}-", dir=directory)
    try:
        with os.fdopen(fd, "w+b") as out, _memory_file("talveron-names", directory) as given, \
                _memory_file("talveron-stderr", directory) as err:
            given.write(names)
            given.seek(0)
            # A batch of one input names it as an operand: the run's names
            # are then talveron's own choice.
            lone = names.count(b"\0") == 1 and names != b"-\0"
            given_names = ["--", os.fsdecode(names[:-1])] if lone else ["--files0-from=-"]
            command, preexec = _with_parent_death_signal([talveron] + list(argv) + given_names)
            child = subprocess.Popen(command, stdin=given, stdout=out, stderr=err, cwd=cwd, close_fds=True,
                                     preexec_fn=preexec)
            try:
                while not _ended(child, POLL_SECONDS):
                    if not _still_wanted(worker, key):
                        raise Cancelled(f"batch {index + 1} was cancelled")
            finally:
                if child.returncode is None:
                    child.kill()
                    child.wait()
            size = os.fstat(out.fileno()).st_size
            err.seek(0)
            stderr = err.read()
            diagnostics, summary = split_summary(stderr)
            cut = 0
            if child.returncode not in (0, 1) or summary is None:
                whole = whole_records(out, size, shape or {})
                cut = size - whole
                if cut:
                    out.truncate(whole)
                    size = whole
            ends = _count(out, size, (shape or {}).get("end", b"\n")) if (shape or {}).get("count") else None
            data = None
            if size <= INLINE_BYTES:
                out.seek(0)
                data = out.read()
    except BaseException:
        _remove(spill)
        try:
            os.rmdir(directory)
        except OSError:
            pass
        raise
    if data is not None:
        _remove(spill)
        spill = None
    return {
        "index": index,
        "diagnostics": diagnostics,
        "summary": summary,
        "status": child.returncode,
        "host": socket.gethostname(),
        "worker": getattr(worker, "address", None),
        "attempt": uuid.uuid4().hex,
        "size": size,
        "cut": cut,
        "ends": ends,
        "data": data,
        "spill": spill,
    }


def _read_records(worker, path, offset, size):
    """`size` bytes from `offset` of the file of a batch's records; None
    when the file is not there. Only files of a run's directory are read."""
    base = getattr(worker, "local_directory", None) or tempfile.gettempdir()
    run_dir = os.path.dirname(os.path.abspath(path))
    if os.path.dirname(run_dir) != os.path.abspath(base) or \
            not os.path.basename(run_dir).startswith("talveron-dask-") or \
            not os.path.basename(path).startswith("talveron-batch-"):
        raise ValueError(f"not a file of talveron-dask: {path}")
    try:
        with open(path, "rb") as f:
            f.seek(offset)
            return f.read(size)
    except FileNotFoundError:
        return None


def remove_run(run_id, dask_worker=None):
    """Removes what is left of the run on a worker (client.run)."""
    import shutil
    shutil.rmtree(run_directory(dask_worker, run_id), ignore_errors=True)


try:
    from distributed.diagnostics.plugin import WorkerPlugin
except ImportError:  # the client always has distributed; this keeps the module importable
    WorkerPlugin = object


class Handlers(WorkerPlugin):
    """Installs on every worker, and every worker that joins later, the
    handlers that read and remove the files of the batches' records."""

    name = "talveron-dask-records"

    def setup(self, worker):
        def talveron_dask_read(comm=None, path=None, offset=0, size=CHUNK_BYTES):
            return {"data": _read_records(worker, path, offset, size)}

        def talveron_dask_remove(comm=None, path=None):
            if _read_records(worker, path, 0, 0) is not None:
                _remove(path)
            return True

        worker.handlers["talveron_dask_read"] = talveron_dask_read
        worker.handlers["talveron_dask_remove"] = talveron_dask_remove
