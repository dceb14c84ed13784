"""A run of talveron-dask: list, cut into batches, search on the cluster, write
in batch order."""
import os
import queue
import signal
import sys
import time
import uuid

from talveron_dask import batches as batching
from talveron_dask import inputs, options as command_line
from talveron_dask.output import InOrder, Output, WriteFailed
from talveron_dask.progress import Progress
from talveron_dask.stats import PREFIX, Totals, empty_summary

PAUSE_ENV = "TALVERON_DASK_TEST_PAUSE"  # the test hook of worker.run_batch


def say(text):
    """A line of our own on standard error."""
    sys.stderr.buffer.write((PREFIX + text + "\n").encode("utf-8", "surrogateescape"))
    sys.stderr.buffer.flush()


def relay(data):
    """Diagnostics from talveron, as they are."""
    if data:
        sys.stderr.buffer.write(data)
        sys.stderr.buffer.flush()


class Stop(BaseException):
    """A signal ends the run: the file of -o is removed on the way out."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def _on_signal(signum, frame):
    raise Stop(signum)


def _die_by(signum):
    """Ends the process by `signum`, as talveron does (SIGPIPE on a closed
    pipe, or the signal that stopped the run)."""
    sys.stderr.flush()
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    os._exit(128 + signum)


class Runner:
    def __init__(self, options, client, batches, output, progress, totals):
        self.options = options
        self.client = client
        self.batches = batches
        self.output = output
        self.progress = progress
        self.totals = totals
        self.in_order = InOrder()
        self.completed = queue.Queue()  # futures, put there by distributed's callback thread
        self.pending = {}               # key: (future, batch)
        self.next_submit = 0
        self.all_done = True            # every batch searched and reported
        self.written_bytes = 0          # input bytes of the batches written
        self.run_id = uuid.uuid4().hex[:8]
        self.cwd = os.getcwd()
        self.pause_dir = os.environ.get(PAUSE_ENV) or None
        self.window = 4
        self.window_checked = 0.0

    def _refresh_window(self):
        """At most this many batches beyond the next one to write are out, so
        that results waiting for an earlier batch stay few: enough to keep
        every worker thread busy twice over."""
        now = time.monotonic()
        if self.client is None or now - self.window_checked < 5.0:
            return
        self.window_checked = now
        from talveron_dask.cluster import workers
        count, threads = workers(self.client)
        self.totals.workers = max(self.totals.workers, count)
        self.window = max(4, 2 * threads + 2)

    def _submit_more(self):
        from talveron_dask.worker import run_batch
        self._refresh_window()
        while self.next_submit < len(self.batches) and self.next_submit - self.in_order.next < self.window:
            batch = self.batches[self.next_submit]
            self.next_submit += 1
            if batch.refused is not None:
                summary = dict(empty_summary(), failed=1)
                self._deliver(batch.index, {"index": batch.index, "stdout": b"", "diagnostics": batch.refused,
                                            "summary": summary, "status": 1})
                continue
            key = f"talveron-dask-{self.run_id}-{batch.index}"
            future = self.client.submit(run_batch, self.options.talveron, self.options.exclude,
                                        batch.stdin_bytes(), self.cwd, batch.index, self.pause_dir,
                                        key=key, pure=False)
            self.pending[key] = (future, batch)
            future.add_done_callback(self.completed.put)

    def _take(self, done):
        """The results of completed futures; then they are released. A
        future whose result was lost with its worker before it was taken is
        being computed again: it is waited for once more, and counts as a
        rerun."""
        from talveron_dask.cluster import reruns
        again = [f for f in done if f.status in ("lost", "pending")]
        for f in again:
            self.totals.retries += f.status == "lost"
            f.add_done_callback(self.completed.put)
        done = [f for f in done if f not in again]
        finished = [f for f in done if f.status == "finished"]
        results = {}
        try:
            for f, r in zip(finished, self.client.gather(finished)):
                results[f.key] = r
        except Exception:
            for f in finished:
                try:
                    results[f.key] = f.result()
                except Exception as e:
                    results[f.key] = {"error": f"its result was lost: {e}"}
        for f in done:
            if f.key not in results:
                if f.status == "error":
                    exception = f.exception()
                    text = str(exception) or type(exception).__name__
                    if type(exception).__name__ == "KilledWorker":
                        text = "the workers running it died, time after time"
                    results[f.key] = {"error": text}
                else:
                    results[f.key] = {"error": f"its task was {f.status}"}
        self.totals.retries += reruns(self.client, [f.key for f in done])
        for f in done:
            _, batch = self.pending.pop(f.key)
            f.release()
            results[f.key]["index"] = batch.index
            self._deliver(batch.index, results[f.key])

    def _deliver(self, index, result):
        for r in self.in_order.put(index, result):
            self._write(r)

    def _write(self, result):
        batch = self.batches[result["index"]]
        if "error" in result:
            self.all_done = False
            self.progress.clear()
            say(f"batch {batch.index + 1} ({batch.describe()}): could not be done: {result['error']}")
            return
        self.output.write(result["stdout"])
        if result["diagnostics"]:
            self.progress.clear()
            relay(result["diagnostics"])
        summary, status = result["summary"], result["status"]
        if summary is not None:
            self.totals.add(summary)
            self.written_bytes += summary["bytes"]
        if summary is None or status not in (0, 1) or (status == 1) != (summary["failed"] > 0):
            self.all_done = False
            self.progress.clear()
            ended = f"ended by signal {-status}" if status < 0 else f"exited with status {status}"
            say(f"batch {batch.index + 1} ({batch.describe()}): talveron {ended} on {result.get('host', '?')}"
                + ("" if summary is not None else ", without its summary"))

    def run(self):
        self.window_checked = 0.0
        self._submit_more()
        while self.in_order.next < len(self.batches):
            try:
                done = [self.completed.get(timeout=0.25)]
            except queue.Empty:
                self.progress.update(self.in_order.next, self.written_bytes)
                continue
            while True:
                try:
                    done.append(self.completed.get_nowait())
                except queue.Empty:
                    break
            self._take(done)
            self._submit_more()
            self.progress.update(self.in_order.next, self.written_bytes)


class ClusterFailed(Exception):
    """The cluster could not be had, or failed the client during the run."""


def _search(options, batches, output, progress, totals, start):
    """Searches the batches on the cluster, writing as they complete; returns
    the Runner. Raises ClusterFailed when the cluster cannot be had or fails
    during the run, WriteFailed when a write fails."""
    from talveron_dask import cluster
    if all(b.refused is not None for b in batches):
        runner = Runner(options, None, batches, output, progress, totals)
        runner.run()
        totals.seconds = time.monotonic() - start
        return runner
    entered = False
    try:
        with cluster.connect(options) as (client, startup):
            entered = True
            totals.cluster_start = startup
            totals.cluster_label = "cluster start" if options.local else "connect"
            runner = Runner(options, client, batches, output, progress, totals)
            try:
                runner.run()
                totals.seconds = time.monotonic() - start
                totals.workers = max(totals.workers, cluster.workers(client)[0])
            finally:
                progress.end()
                cluster.shutdown_quietly()
            return runner
    except WriteFailed:
        raise
    except Exception as e:
        if entered:
            raise ClusterFailed(f"the cluster failed: {type(e).__name__}: {e}")
        where = options.scheduler or f"a local cluster of {options.local} workers"
        raise ClusterFailed(f"cannot reach {where}: {e}")


def main(argv=None, default_talveron=None):
    """talveron-dask's command line; returns the exit status."""
    options = command_line.parse(sys.argv[1:] if argv is None else argv, default_talveron)
    from talveron_dask import cluster
    cluster.quiet_logging(options.dask_log_level)
    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, _on_signal)
    try:
        return _run(options)
    except Stop as e:
        _die_by(e.signum)


def _run(options):
    start = time.monotonic()
    totals = Totals(options.exclude)

    listing = inputs.list_inputs(options.talveron, options.exclude, options.inputs)
    if listing.status == 2:
        # A usage error found by talveron (the keywords): its words, our name.
        relay(listing.diagnostics.replace(b"talveron: ", PREFIX.encode())
              .replace(b"'talveron --help'", b"'talveron-dask --help'"))
        return 2
    if listing.status not in (0, 1):
        relay(listing.diagnostics)
        say(f"{options.talveron} --list-inputs: exit status {listing.status}")
        return 1
    # Directories that could not be walked: talveron counts each as an input
    # that failed. The listing does not tell where in the list they fell, so
    # their diagnostics come first.
    relay(listing.diagnostics)
    totals.summary["failed"] += sum(1 for line in listing.diagnostics.split(b"\n") if line.startswith(b"talveron: "))
    destination = inputs.output_identity(options.output)
    batches = batching.make_batches(listing.names, inputs.sizes(listing.names, destination), options.batch_bytes)
    totals.batches = len(batches)

    try:
        output = Output(options.output)
    except WriteFailed as e:
        say(str(e))
        return 1
    progress = Progress(not options.quiet and sys.stderr.isatty(), len(batches), start)
    runner = None
    failure = None     # what stopped the run: a message
    write_failure = None
    stopped_by = None
    try:
        runner = _search(options, batches, output, progress, totals, start)
    except ClusterFailed as e:
        failure = str(e)
    except WriteFailed as e:
        write_failure = e
    except Stop as e:
        stopped_by = e.signum
    except KeyboardInterrupt:
        stopped_by = signal.SIGINT
    finally:
        progress.end()
        searched = (listing.status == 0 and runner is not None and runner.all_done
                    and totals.summary["failed"] == 0 and failure is None and write_failure is None
                    and stopped_by is None)
        try:
            output.finish(searched)
        except WriteFailed as e:
            searched = False
            write_failure = write_failure or e
    if stopped_by is not None:
        _die_by(stopped_by)
    if write_failure is not None and write_failure.broken_pipe and options.output is None:
        _die_by(signal.SIGPIPE)
    for message in (failure, write_failure):
        if message is not None:
            say(str(message))
    if options.output is not None and not searched and write_failure is None:
        say(f"{options.output}: left unchanged: not every input was searched")
    if options.stats and not options.quiet:
        seconds = totals.seconds if totals.seconds is not None else time.monotonic() - start
        sys.stderr.buffer.write("".join(totals.lines(seconds)).encode("utf-8", "surrogateescape"))
        sys.stderr.buffer.flush()
    return 0 if searched else 1
