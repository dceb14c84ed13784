"""The progress line on a terminal: batches done of all, bytes and MB/s, four
times a second once the run has taken a second, erased at the end."""
import os
import sys
import time

FIRST_AFTER = 1.0
EVERY = 0.25


def wanted():
    """talveron's rule: a progress line when standard error is a terminal,
    unless standard output is that same terminal (the line would come
    between the records)."""
    try:
        if not os.isatty(2):
            return False
        if not os.isatty(1):
            return True
        return os.fstat(1).st_rdev != os.fstat(2).st_rdev
    except OSError:
        return False


class Progress:
    def __init__(self, enabled, total, start):
        self.enabled = enabled
        self.total = total
        self.start = start
        self.next = start + FIRST_AFTER
        self.shown = False
        self.done = 0
        self.bytes = 0

    def update(self, done, nbytes):
        self.done, self.bytes = done, nbytes
        if not self.enabled:
            return
        now = time.monotonic()
        if now < self.next:
            return
        self.next = now + EVERY
        rate = nbytes / 1e6 / (now - self.start) if now > self.start else 0.0
        sys.stderr.write(f"\rtalveron-dask: {done:,} of {self.total:,} batches, {nbytes / 1e6:.1f} MB, "
                         f"{rate:.0f} MB/s\033[K")
        sys.stderr.flush()
        self.shown = True

    def clear(self):
        """Erases the line, so that a diagnostic can be written; the next
        update shows it again."""
        if self.shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()
            self.shown = False
            self.next = 0.0

    def end(self):
        self.clear()
        self.enabled = False
