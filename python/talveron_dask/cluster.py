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


@contextlib.contextmanager
def connect(options):
    """A distributed Client, and the seconds its cluster took to start or to
    answer."""
    import time

    started = time.monotonic()
    from distributed import Client, LocalCluster

    ship_code()
    if options.scheduler:
        with Client(options.scheduler, timeout="30s", set_as_default=False) as client:
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
                client.wait_for_workers(options.local)
                yield client, time.monotonic() - started
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def workers(client):
    """(workers, threads) of the cluster now."""
    nthreads = client.nthreads()
    return len(nthreads), sum(nthreads.values())


def _suspicious(keys, dask_scheduler=None):
    total = 0
    for key in keys:
        ts = dask_scheduler.tasks.get(key)
        if ts is not None:
            # A task given up on (KilledWorker) ran once more than it was rerun.
            given_up = ts.state == "erred" and ts.suspicious > dask_scheduler.allowed_failures
            total += ts.suspicious - given_up
    return total


def reruns(client, keys):
    """How many times the tasks of `keys` (done, not yet released) were
    started again because the worker running them died.

    The scheduler counts these itself: when a worker leaves without saying
    goodbye (killed, crashed, lost), Scheduler.remove_worker adds one to
    TaskState.suspicious of every task that was processing on it, and sends
    the task back to be run elsewhere (after allowed-failures such deaths it
    gives up with KilledWorker instead). So the sum of `suspicious` over our
    tasks, read before the client releases them (and the scheduler forgets
    them), is the number of batches rerun. A batch that had completed and
    whose result was lost with its worker before the client took it would be
    recomputed without being counted; the client takes each result as soon
    as its task completes, which leaves that window small. A task given up
    on after too many deaths (KilledWorker) counts one rerun fewer than its
    deaths."""
    if not keys:
        return 0
    return client.run_on_scheduler(_suspicious, list(keys))


def shutdown_quietly():
    """Closing a cluster may log from threads after the run is over."""
    for name in LOGGERS:
        logging.getLogger(name).setLevel(logging.CRITICAL + 1)
    sys.stderr.flush()
