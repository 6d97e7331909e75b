"""Peak resident memory of a block of code, for the benchmark scripts in this folder."""

from __future__ import annotations

import gc
import resource
from typing import Any


def status_kib(field: str) -> int | None:
    try:
        with open("/proc/self/status") as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


class PeakMemory:
    """Rise of the resident high-water mark while the block runs, in MiB (VmHWM, reset through
    /proc/self/clear_refs; where that is not possible, ru_maxrss, which cannot be reset)."""

    def __enter__(self) -> PeakMemory:
        gc.collect()
        self.method = "VmHWM"
        try:
            with open("/proc/self/clear_refs", "w") as clear:
                clear.write("5")
        except OSError:
            self.method = "ru_maxrss"
        if self.method == "VmHWM" and status_kib("VmHWM") is not None:
            self.before = status_kib("VmRSS") or 0
        else:
            self.method = "ru_maxrss"
            self.before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        return self

    def __exit__(self, *exc: Any) -> bool:
        if self.method == "VmHWM":
            after = status_kib("VmHWM") or 0
        else:
            after = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
        self.mib = max(0, after - self.before) / 1024.0
        return False
