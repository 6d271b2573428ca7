"""What the benchmarks alone read from /proc; harness has what the tests read too (run_seconds,
peak_rss_kib)."""

import os
from pathlib import Path


def cpu_seconds(pid):
    """User + system time of a process so far (all its threads), from /proc."""
    fields = Path(f"/proc/{pid}/stat").read_text().rpartition(")")[2].split()
    # utime and stime are fields 14 and 15 of the line; fields[0] here is field 3.
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def load_average():
    """The kernel's 1, 5 and 15 minute load averages, as it prints them."""
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])
