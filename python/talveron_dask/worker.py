"""The work of a worker: one batch searched by a talveron process.

This module and talveron_dask.stats travel to the workers by value (see
cluster.ship_code), so a worker needs only Python with distributed and the
talveron program: it imports nothing of talveron_dask."""
import os
import socket
import subprocess
import time

from talveron_dask.stats import split_summary

PAUSE_SECONDS = 60


def _pause_first_attempt(directory):
    """The test hook: the first attempt of batch 0 anywhere writes the
    worker process's id to DIRECTORY/pid and sleeps, so that a test can kill
    the worker in the middle of the batch; later attempts go on at once."""
    try:
        fd = os.open(os.path.join(directory, "claimed"), os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
    except FileExistsError:
        return
    os.close(fd)
    temporary = os.path.join(directory, "pid.tmp")
    with open(temporary, "w") as f:
        f.write(f"{os.getpid()}\n")
    os.rename(temporary, os.path.join(directory, "pid"))
    time.sleep(PAUSE_SECONDS)


def run_batch(talveron, keywords, names, cwd, index, pause_dir=None):
    """Runs `talveron -H --stats -x ... --files0-from=-` in `cwd` with the
    batch's `names` (each ended by a 0 byte) on its standard input. Returns
    its standard output, its diagnostics, its summary read out into numbers
    (None when it printed none), its exit status and where it ran."""
    if pause_dir and index == 0:
        _pause_first_attempt(pause_dir)
    argv = [talveron, "-H", "--stats"] + [f"--exclude={word}" for word in keywords] + ["--files0-from=-"]
    started = time.monotonic()
    done = subprocess.run(argv, input=names, stdout=subprocess.PIPE, stderr=subprocess.PIPE, cwd=cwd)
    diagnostics, summary = split_summary(done.stderr, keywords)
    return {
        "index": index,
        "stdout": done.stdout,
        "diagnostics": diagnostics,
        "summary": summary,
        "status": done.returncode,
        "host": socket.gethostname(),
        "pid": os.getpid(),
        "seconds": time.monotonic() - started,
    }
