"""Progress of long work, on the terminal only: quiet when standard error is not one."""

import sys
import time


class Progress:
    """Counts bytes done out of total for one labelled task; shows a line at most five
    times a second, and clears it at the end."""

    def __init__(self, label, total, stream=None):
        self.stream = stream or sys.stderr
        self.shown = self.stream.isatty()
        self.label, self.total, self.done, self.last = label, max(total, 1), 0, 0.0

    def advance(self, count):
        self.done += count
        now = time.monotonic()
        if self.shown and now - self.last >= 0.2:
            self.last = now
            self.stream.write("\r%s: %3d%% of %.1f MB" % (self.label, 100 * self.done // self.total,
                                                        self.total / 1e6))
            self.stream.flush()

    def finish(self):
        if self.shown and self.last:
            self.stream.write("\r\033[K")
            self.stream.flush()
