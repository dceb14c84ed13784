"""The cluster: a scheduler reached at its address, or a cluster of worker
processes started on this machine; distributed kept quiet; the code the
workers and the scheduler run sent along by value."""
import contextlib
import logging
import os
import shutil
import sys
import tempfile
import warnings

LOGGERS = ("distributed", "tornado", "asyncio", "bokeh")

# Run in each worker process of --local as it starts (a preload given as its
# text): its standard error goes to /dev/null, so that what distributed
# prints there outside its logging (a traceback as a worker process ends
# while its nanny restarts it, say) stays off ours. A batch's diagnostics do
# not go that way: talveron's standard error is a pipe of the worker's.
QUIET_WORKER = """\
import os


def dask_setup(worker):
    null = os.open(os.devnull, os.O_WRONLY)
    os.dup2(null, 2)
    os.close(null)
"""


def quiet_logging(level):
    """distributed's own messages down to `level` (critical: none), here and
    in the worker processes --local starts, which read the environment when
    they start. Must run before dask is imported."""
    os.environ["DASK_LOGGING__DISTRIBUTED"] = level
    os.environ.setdefault("PYTHONWARNINGS", "ignore")
    for name in LOGGERS:
        logging.getLogger(name).setLevel(level.upper())
    if level != "debug":
        warnings.filterwarnings("ignore")


def ship_code():
    """The functions that run on the workers and the scheduler go by value,
    with the code of their modules: a worker need not have talveron_dask."""
    import cloudpickle

    from talveron_dask import cluster, stats, worker
    for module in (worker, stats, cluster):
        cloudpickle.register_pickle_by_value(module)


class ClusterFailed(Exception):
    """The cluster could not be had, or failed the client during the run."""


def _refused_at_once(options):
    """A plain TCP scheduler address whose port refuses the connection fails
    at once: Dask would try again until --connect-timeout."""
    import socket
    from urllib.parse import urlsplit
    try:
        parts = urlsplit(options.scheduler)
        if parts.scheme != "tcp" or not parts.hostname or not parts.port:
            return
        socket.create_connection((parts.hostname, parts.port), timeout=options.connect_timeout).close()
    except ConnectionRefusedError as e:
        raise ClusterFailed(f"cannot reach the scheduler at {options.scheduler}: {e.strerror}")
    except (OSError, ValueError):
        return  # Dask says what else is wrong, in its time


@contextlib.contextmanager
def connect(options):
    """A distributed Client, and the seconds its cluster took to start or to
    answer. Raises ClusterFailed when the scheduler does not answer within
    --connect-timeout or no worker joins within --wait-workers."""
    import time

    started = time.monotonic()
    import dask
    from distributed import Client, LocalCluster

    from talveron_dask.worker import Handlers

    ship_code()
    timeout = f"{options.connect_timeout}s"
    dask.config.set({"distributed.comm.timeouts.connect": timeout})
    if options.scheduler:
        _refused_at_once(options)
        try:
            client = Client(options.scheduler, timeout=timeout, set_as_default=False)
        except Exception as e:
            raise ClusterFailed(f"cannot reach the scheduler at {options.scheduler} "
                                f"within {options.connect_timeout:g} s: {e}")
        with client:
            _wait_for_workers(client, 1, options.wait_workers, f"the scheduler at {options.scheduler}")
            client.register_worker_plugin(Handlers(), name=Handlers.name)
            yield client, time.monotonic() - started
        return
    scratch = tempfile.mkdtemp(prefix="talveron-dask-")
    try:
        level = getattr(logging, options.dask_log_level.upper())
        quiet = {"preload": [QUIET_WORKER]} if options.dask_log_level == "critical" else {}
        with LocalCluster(n_workers=options.local, threads_per_worker=1, processes=True,
                          dashboard_address=None, local_directory=scratch, silence_logs=level,
                          **quiet) as local:
            # The workers are on this machine: results come straight from them.
            with Client(local, direct_to_workers=True, set_as_default=False) as client:
                _wait_for_workers(client, options.local, options.wait_workers,
                                  f"a local cluster of {options.local} workers")
                client.register_worker_plugin(Handlers(), name=Handlers.name)
                yield client, time.monotonic() - started
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def _wait_for_workers(client, count, seconds, where):
    try:
        client.wait_for_workers(count, timeout=seconds)
    except Exception:
        got = workers(client)[0]
        if got == 0:
            raise ClusterFailed(f"{where}: no worker joined within {seconds:g} s (--wait-workers)")
        raise ClusterFailed(f"{where} has {got} of {count} workers after {seconds:g} s (--wait-workers)")


def workers(client):
    """(workers, threads) of the cluster now."""
    nthreads = client.nthreads()
    return len(nthreads), sum(nthreads.values())


def shutdown_quietly():
    """Closing a cluster may log from threads after the run is over."""
    for name in LOGGERS:
        logging.getLogger(name).setLevel(logging.CRITICAL + 1)
    sys.stderr.flush()
