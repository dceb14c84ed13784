"""A run of talveron-dask: list, cut into batches, search on the cluster, write
the records in batch order as they stream back."""
import errno
import fcntl
import io
import os
import signal
import sys
import threading
import time
import uuid

from talveron_dask import batches as batching
from talveron_dask import inputs, options as command_line
from talveron_dask.output import Output, WriteFailed, aliased_descriptor
from talveron_dask.progress import Progress, wanted as progress_wanted
from talveron_dask.stats import PREFIX, Totals

WAIT_SLICE = 0.25                      # how often a wait shows progress and looks at the workers


def say(text):
    """A line of our own on standard error."""
    relay((PREFIX + text + "\n").encode("utf-8", "surrogateescape"))


def relay(data):
    """Diagnostics from talveron, as they are. Standard error that cannot be
    written to is no reason to stop (talveron's rule too)."""
    if data:
        try:
            sys.stderr.flush()
            _write_all(2, data)
        except OSError:
            pass


def _write_all(fd, data):
    view = memoryview(data)
    while view:
        view = view[os.write(fd, view):]


class Stop(BaseException):
    """A signal ends the run: the temporary file of --output is removed on
    the way out, and every talveron of the run ends."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def _on_signal(signum, frame):
    raise Stop(signum)


def _die_by(signum):
    """Ends the process by `signum`, as talveron does (SIGPIPE on a closed
    pipe, or the signal that stopped the run)."""
    try:
        sys.stderr.flush()
    except (OSError, ValueError):
        pass
    signal.signal(signum, signal.SIG_DFL)
    os.kill(os.getpid(), signum)
    os._exit(128 + signum)


def hold_standard_descriptors():
    """Which of standard input, output and error were closed when the run
    began. Each closed one is held open on /dev/null, so that no file the
    run opens takes its number (records or diagnostics would go into it)."""
    closed = []
    for fd in (0, 1, 2):
        try:
            fcntl.fcntl(fd, fcntl.F_GETFD)
        except OSError as e:
            if e.errno != errno.EBADF:
                continue
            closed.append(fd)
            held = os.open(os.devnull, os.O_RDWR)
            if held != fd:
                os.dup2(held, fd)
                os.close(held)
    if 1 in closed:
        sys.stdout = io.TextIOWrapper(io.FileIO(1, "w", closefd=False), write_through=True)
    if 2 in closed:
        sys.stderr = io.TextIOWrapper(io.FileIO(2, "w", closefd=False), write_through=True)
    return closed


def needed_descriptors(options):
    """The standard descriptors the run writes to: output unless --output
    or -q, error for --stats, and any that --output names."""
    needed = set()
    if options.list_inputs or options.version or (options.output is None and not options.quiet):
        needed.add(1)
    if options.stats:
        needed.add(2)
    alias = aliased_descriptor(options.output) if options.output is not None else None
    if alias is not None and alias < 3 and not options.quiet:
        needed.add(alias)
    return needed


class Runner:
    """Submits the batches, at most a window ahead of the next one to write,
    and writes each batch's records, diagnostics and figures in order."""

    def __init__(self, options, client, batches, output, progress, totals, search_argv, shape=None):
        self.options = options
        self.shape = shape or {}
        self.client = client
        self.batches = batches
        self.output = output
        self.progress = progress
        self.totals = totals
        self.search_argv = search_argv
        self.futures = {}               # batch index: its future, submitted and not yet written
        self.gathered = {}              # batch index: its result, taken ahead of its turn
        self.next_submit = 0
        self.next_write = 0
        self.trouble = False            # status 2: an input failed, a batch could not be done
        self.not_done = False           # a batch could not be done
        self.input_is_output = False    # an input was the file of --output
        self.found = False              # a batch's talveron found a record (status 0)
        self.written_bytes = 0          # input bytes of the batches written
        self.run_id = uuid.uuid4().hex[:12]
        self.cwd = os.getcwd()
        self.window = 4
        self.window_checked = 0.0
        self.workers_seen = time.monotonic()  # when the cluster last had a worker

    # The cluster.

    def _look_at_workers(self, force=False):
        """At most this many batches beyond the next one to write are out, so
        that the results waiting for an earlier batch stay few: enough to
        keep every worker thread busy twice over. A cluster without workers
        for --wait-workers seconds ends the run."""
        from talveron_dask.cluster import ClusterFailed, workers
        now = time.monotonic()
        if self.client is None or (not force and now - self.window_checked < 1.0):
            return
        self.window_checked = now
        count, threads = workers(self.client)
        self.totals.workers = max(self.totals.workers, count)
        self.window = max(4, 2 * threads + 2)
        if count:
            self.workers_seen = now
        elif now - self.workers_seen > self.options.wait_workers:
            raise ClusterFailed(f"the cluster has had no worker for {self.options.wait_workers:g} s "
                                f"(--wait-workers)")

    def _submit_more(self):
        from talveron_dask.worker import run_batch
        self._look_at_workers()
        while self.next_submit < len(self.batches) and self.next_submit - self.next_write < self.window:
            batch = self.batches[self.next_submit]
            self.next_submit += 1
            if batch.refused is not None:
                continue
            key = f"talveron-dask-{self.run_id}-{batch.index}"
            self.futures[batch.index] = self.client.submit(
                run_batch, self.options.talveron, self.search_argv, batch.stdin_bytes(), self.cwd, batch.index,
                self.run_id, self.shape, key=key, pure=False, priority=-batch.index)

    def _wait(self, future):
        """Waits until `future` is finished, erred or cancelled (a result lost
        with its worker is being computed again: it is waited for again),
        showing progress and watching the workers meanwhile."""
        while future.status not in ("finished", "error", "cancelled"):
            event = threading.Event()
            future.add_done_callback(lambda _: event.set())
            if not event.wait(WAIT_SLICE):
                self.progress.update(self.next_write, self.written_bytes)
                self._look_at_workers()

    def _rpc(self, address, op, **message):
        async def call():
            return await getattr(self.client.rpc(address), op)(**message)
        return self.client.sync(call)

    # The batches.

    def run(self):
        self._look_at_workers(force=True)
        try:
            while self.next_write < len(self.batches):
                self._submit_more()
                batch = self.batches[self.next_write]
                stop = self._refused(batch) if batch.refused is not None else self._do(batch)
                self.next_write += 1
                self.progress.update(self.next_write, self.written_bytes)
                if stop:
                    break
        finally:
            self.cancel()

    def cancel(self):
        """Cancels the batches not written (after -q found a record, or when
        the run is stopped): their talveron processes are killed."""
        self.gathered.clear()
        if self.futures and self.client is not None:
            pending = list(self.futures.values())
            self.futures.clear()
            try:
                self.client.cancel(pending)
            except Exception:
                pass

    def count_retries(self):
        """The batches that began more than once: each attempt logs an event
        of the run when it begins. (An attempt that began after its batch was
        written -- a result lost and computed again -- is not waited for.)"""
        try:
            events = self.client.get_events(f"talveron-dask-{self.run_id}")
        except Exception:
            return
        began = {}
        for _, index in events:
            began[index] = began.get(index, 0) + 1
        self.totals.retried.update(index for index, count in began.items() if count > 1)

    def remove_leftovers(self):
        """The run's directories on the workers (records of batches cancelled
        before they were read)."""
        from talveron_dask.worker import remove_run
        try:
            self.client.run(remove_run, self.run_id)
        except Exception:
            pass

    def _refused(self, batch):
        """An input that is the output file, turned down here, as talveron
        turns it down."""
        self.trouble = True
        self.input_is_output = True
        self.totals.summary["failed"] += 1
        self.progress.clear()
        relay(batch.refused)
        return False

    def _could_not(self, batch, why):
        self.trouble = True
        self.not_done = True
        self.progress.clear()
        say(f"batch {batch.index + 1} ({batch.describe()}): could not be done: {why}")

    def _do(self, batch):
        """Writes one batch; True when the run stops there (-q found a
        record)."""
        future = self.futures[batch.index]
        try:
            self._wait(future)
            try:
                result = self.gathered.pop(batch.index, None) or self._gather(batch.index)
            except Exception as e:
                text = str(e) or type(e).__name__
                if type(e).__name__ == "KilledWorker":
                    text = "the workers running it died, time after time"
                elif "Cancelled" in type(e).__name__ or text.strip("'\"") == future.key:
                    # distributed says only the task's key.
                    text = "it was lost with the scheduler"
                self._could_not(batch, text)
                return False
            if result["data"]:
                self.output.write(result["data"])
            elif result["data"] is None and result["size"]:
                result = self._stream(batch, future, result)
                if result is None:
                    return False
        finally:
            del self.futures[batch.index]
            self.gathered.pop(batch.index, None)
            future.release()
        return self._account(batch, result)

    def _gather(self, index):
        """The result of batch `index`, finished, with those of the later
        batches that have finished too, in one round trip: they are written
        after it without asking again."""
        later = [i for i, f in self.futures.items() if i > index and f.status == "finished"
                 and i not in self.gathered]
        if later:
            try:
                results = self.client.gather([self.futures[index]] + [self.futures[i] for i in later])
                self.gathered.update(zip(later, results[1:]))
                return results[0]
            except Exception:
                pass
        return self.futures[index].result()

    def _stream(self, batch, future, result):
        """Writes a batch's records that stayed on its worker, a chunk at a
        time. When the worker dies on the way, distributed runs the batch
        again elsewhere and the rest is read from there; the records written
        before are not written again. Returns the result the records came
        from, or None when the batch could not be done."""
        from talveron_dask.worker import CHUNK_BYTES
        size = result["size"]
        offset = 0
        given_up_at = None
        while offset < size:
            try:
                answer = self._rpc(result["worker"], "talveron_dask_read", path=result["spill"], offset=offset,
                                   size=CHUNK_BYTES)
                data = answer["data"]
            except Exception:
                data = None
            if data:
                self.output.write(data)
                offset += len(data)
                given_up_at = None
                continue
            # The worker or its file is gone: wait for the batch to run again.
            now = time.monotonic()
            given_up_at = given_up_at or now + max(self.options.wait_workers, self.options.connect_timeout) + 30
            if now > given_up_at:
                self._could_not(batch, f"its records could not be read from {result['host']}")
                return None
            time.sleep(WAIT_SLICE)
            self._wait(future)
            try:
                again = future.result()
            except Exception as e:
                self._could_not(batch, str(e) or type(e).__name__)
                return None
            if again["attempt"] != result["attempt"]:
                self.totals.retried.add(batch.index)
                if again["size"] != size or again["status"] != result["status"]:
                    self._could_not(batch, "it gave other records when it ran again (did its inputs change?)")
                    return None
                result = again
        try:
            self._rpc(result["worker"], "talveron_dask_remove", path=result["spill"])
        except Exception:
            pass
        return result

    def _found(self, result):
        """Whether the batch's talveron found a record, as talveron's own
        rule for the run: status 0 says it; a batch that failed found one
        when it counted a record written, or (records and -l) wrote
        anything, or (-L) searched more inputs than it listed."""
        summary, o = result["summary"], self.options
        if result["status"] == 0 or (summary is not None and summary["records"] > 0):
            return True
        if o.quiet or o.count:
            return False
        if o.files_without_match:
            return summary is not None and result.get("ends") is not None and summary["searched"] > result["ends"]
        return result["size"] > 0

    def _account(self, batch, result):
        """The batch's diagnostics, figures and exit status."""
        if result["diagnostics"]:
            self.progress.clear()
            relay(result["diagnostics"])
        summary, status = result["summary"], result["status"]
        if summary is not None:
            self.totals.add(summary)
            self.written_bytes += summary["bytes"]
        explained = bool(result["diagnostics"].strip()) or (summary is not None and summary["failed"] > 0)
        cut = result.get("cut", 0)
        if self._found(result):
            self.found = True
        where = f"on {result.get('host', '?')}"
        left_out = "; its last record, cut, is left out" if cut else ""
        if status == 0 or (status == 1 and summary is not None):
            pass
        elif status != 2 or not explained or summary is None:
            self.trouble = True
            self.not_done = self.not_done or summary is None or bool(cut)
            self.progress.clear()
            ended = f"ended by signal {-status}" if status < 0 else f"exited with status {status}"
            why = ("without its summary" if summary is None else
                   "without a diagnostic" if status == 2 else "")
            say(f"batch {batch.index + 1} ({batch.describe()}): talveron {ended} {where}"
                + (f", {why}" if why else "") + left_out)
        else:
            self.trouble = True
            if cut or summary["failed"] == 0:
                # A failure of its own run, not of an input (its write on a
                # full disk): its diagnostic says what, this line where.
                self.not_done = True
                self.progress.clear()
                say(f"batch {batch.index + 1} ({batch.describe()}): talveron did not finish {where}{left_out}")
        return self.options.quiet and self.found


def _record_shape(options, name_flags):
    """How a batch's records end, for a batch cut part-way (see
    worker.whole_records): what ends one, whether each begins with a
    name ended by a 0 byte (-Z), whether the ends are counted (-L)."""
    listing = options.files_with_matches or options.files_without_match
    return {"end": b"\0" if options.null and listing else b"\n",
            "named": options.null and not listing and not options.tsv and not options.json and "-H" in name_flags,
            "count": bool(options.files_without_match)}


def _search(options, batches, output, progress, totals, start, search_argv, shape=None):
    """Searches the batches on the cluster, writing as they complete; returns
    the Runner. Raises ClusterFailed when the cluster cannot be had or fails
    during the run, WriteFailed when a write fails."""
    from talveron_dask import cluster
    if all(b.refused is not None for b in batches):
        runner = Runner(options, None, batches, output, progress, totals, search_argv)
        runner.run()
        totals.seconds = time.monotonic() - start
        return runner
    entered = False
    try:
        with cluster.connect(options) as (client, startup):
            entered = True
            totals.cluster_start = startup
            totals.cluster_label = "connect" if options.scheduler else "cluster start"
            runner = Runner(options, client, batches, output, progress, totals, search_argv, shape)
            try:
                runner.run()
                totals.seconds = time.monotonic() - start
                runner.count_retries()
            finally:
                progress.end()
                runner.remove_leftovers()
                cluster.shutdown_quietly()
            return runner
    except (WriteFailed, cluster.ClusterFailed, Stop, KeyboardInterrupt):
        raise
    except Exception as e:
        if entered:
            raise cluster.ClusterFailed(f"the cluster failed: {type(e).__name__}: {e}")
        raise cluster.ClusterFailed(f"cannot start the cluster: {type(e).__name__}: {e}")


def main(argv=None, default_talveron=None):
    """talveron-dask's command line; returns the exit status."""
    closed = hold_standard_descriptors()
    options = command_line.parse(sys.argv[1:] if argv is None else argv, default_talveron)
    names = {0: "standard input", 1: "standard output", 2: "standard error"}
    for fd in sorted(needed_descriptors(options) & set(closed)):
        say(f"{names[fd]}: {os.strerror(errno.EBADF)}")
        return 2
    if options.version:
        return _version(options)
    from talveron_dask import cluster
    cluster.quiet_logging(options.dask_log_level)
    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, _on_signal)
    try:
        return _run(options)
    except Stop as e:
        _die_by(e.signum)
    except KeyboardInterrupt:
        _die_by(signal.SIGINT)


def _version(options):
    import subprocess
    done = subprocess.run([options.talveron, "--version"], stdin=subprocess.DEVNULL, capture_output=True)
    try:
        _write_all(1, f"{command_line.PROGRAM}, with ".encode() + done.stdout)
    except OSError as e:
        say(f"write error: {os.strerror(e.errno)}")
        return 2
    relay(done.stderr)
    return 0 if done.returncode == 0 else 2


def _nothing_listed(options):
    """Runs `talveron -q` over the walk that listed nothing, which says why
    (when a filter of the walk left files out); True when it failed."""
    import subprocess
    argv = [options.talveron, "-q", "--no-progress"] + options.walk_args + ["--"] + list(options.inputs)
    done = subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    relay(done.stderr)
    return done.returncode == 2


def _say_hints(options, found, summary):
    """talveron's hints at the end of a run, of the batches' summed counts
    (the batches say none: their summaries count them). The https anchors
    passed over are all of them (a batch with --stats counts every one),
    where talveron without --stats counts a page's up to its first record
    and says "at least"."""
    https = summary["https"]
    if https:
        said = "" if options.stats else "at least "
        say((f"{said}{https}" if found else f"nothing found, but {https}") +
            " <a href=\"https:// anchors were passed over: --https" + (" (or --html)" if found else "") + " takes them")
    file_links = (summary["links"] or {}).get("file", 0)
    if options.html and options.base is None and file_links:
        say(f"{file_links} link(s) resolved to file: addresses were passed over: "
            "--base=URL gives the pages' web address")


def _ours(diagnostics):
    """talveron's usage error in our name."""
    return diagnostics.replace(b"talveron: ", PREFIX.encode()).replace(b"'talveron --help'", b"'talveron-dask --help'")


def _search_refused(options, search_argv):
    """talveron's usage error for the batches' command line, told before any
    cluster starts: options that go to the batches alone and do not go
    together (--json with -l, -h or --tsv, say) are checked by talveron
    --list-inputs of an empty input with them. Its message, or None."""
    listing = inputs.list_inputs(options.talveron, search_argv, [os.devnull])
    return listing.diagnostics if listing.usage_error() else None


def _with_filename(options):
    """-H or -h for every batch: as asked, else talveron's rule on the
    inputs as given (names for more than one, for --files0-from, for a
    directory)."""
    if options.with_filename != -1:
        return options.with_filename == 1
    return (len(options.inputs) > 1 or options.files0_from is not None
            or any(os.path.isdir(name) for name in options.inputs))


def _name_flags(options):
    """-H or -h for every batch as asked or by the rule above; none for a
    lone input not named otherwise: its batch names it as an operand, and
    talveron's own rule holds (a page's records bare, a web archive's under
    each record's name)."""
    if options.tsv or options.with_filename == 1:
        return ["-H"]
    if options.with_filename == 0:
        return ["-h"]
    return ["-H"] if _with_filename(options) else []


def _run(options):
    from talveron_dask.cluster import ClusterFailed
    start = time.monotonic()
    totals = Totals(options.keywords)

    listing = inputs.list_inputs(options.talveron, options.walk_args, options.inputs)
    if listing.usage_error():
        # A usage error found by talveron (the keywords): its words, our name.
        relay(_ours(listing.diagnostics))
        return 2
    refusal = command_line.base_refusal(options)
    if refusal:
        say(refusal)
        relay(f"Try '{command_line.PROGRAM} --help' for more information.\n".encode())
        return 2
    # One thread per batch unless asked: the workers are the threads.
    name_flags = _name_flags(options)
    search_argv = name_flags + ["--stats=json", "--no-progress", "-j1"] + options.search_args
    refused = None if options.list_inputs else _search_refused(options, search_argv)
    if refused is not None:
        relay(_ours(refused))
        return 2
    if options.list_inputs:
        try:
            _write_all(1, b"".join(name + b"\0" for name in listing.names))
        except OSError as e:
            relay(listing.diagnostics)
            say(f"write error: {os.strerror(e.errno)}")
            return 2
        relay(listing.diagnostics)
        return listing.status
    # What the listing itself could not do (a --files0-from file that does
    # not open): talveron says it before any search.
    relay(listing.diagnostics)
    listing_trouble = listing.status not in (0, 1)
    if listing.status == 1 and not listing_trouble:
        # Nothing to search: talveron tells which filter of the walk left the
        # files out (a search with -q of the same walk says it and searches
        # nothing).
        listing_trouble = _nothing_listed(options)
    destination = None if options.quiet else inputs.output_identity(options.output)
    batches = batching.make_batches(listing.names, inputs.sizes(listing.names, destination), options.batch_bytes)
    totals.batches = len(batches)

    output = None
    if not options.quiet:
        try:
            output = Output(options.output)
        except WriteFailed as e:
            say(str(e))
            return 2
    progress = Progress(not options.no_progress and progress_wanted(), len(batches), start)
    runner = None
    failure = None     # what stopped the run: a message
    write_failure = None
    stopped_by = None
    try:
        runner = _search(options, batches, output, progress, totals, start, search_argv,
                         _record_shape(options, name_flags))
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
        completed = runner is not None and failure is None and write_failure is None and stopped_by is None
        trouble = listing_trouble or runner is None or runner.trouble
        # As talveron: FILE is replaced when the run has ended, unless an
        # input was FILE itself, or --all-or-nothing and an input was not
        # searched, or the run failed and no input was searched at all.
        unsearched = runner is None or runner.not_done or totals.summary["failed"] > 0
        keep_why = None
        if completed and runner.input_is_output:
            keep_why = "it is also an input"
        elif completed and options.all_or_nothing and unsearched:
            keep_why = "not every input was searched"
        elif completed and trouble and totals.summary["searched"] == 0:
            keep_why = "no input was searched"
        commit = completed and keep_why is None
        if output is not None:
            try:
                output.finish(commit)
            except WriteFailed as e:
                write_failure = write_failure or e
    if stopped_by is not None:
        _die_by(stopped_by)
    if write_failure is not None and write_failure.broken_pipe and options.output is None:
        _die_by(signal.SIGPIPE)
    for message in (failure, write_failure):
        if message is not None:
            say(str(message))
    if not completed and failure is not None and output is not None and output.temporary_used:
        keep_why = "the run did not end"
    if keep_why is not None and write_failure is None and output is not None and output.temporary_used:
        say(f"{options.output}: left unchanged: {keep_why}")
    found = runner is not None and runner.found
    if not options.quiet and not options.no_messages and not options.stats_json:
        _say_hints(options, found, totals.summary)
    if options.stats:
        seconds = totals.seconds if totals.seconds is not None else time.monotonic() - start
        text = totals.json_line(seconds) if options.stats_json else "".join(totals.lines(seconds))
        relay(text.encode("utf-8", "surrogateescape"))
    if options.quiet and found:
        return 0
    if trouble or failure is not None or write_failure is not None:
        return 2
    return 0 if found else 1
