"""Dio.write of the Python package against KV_DIO_OutData called from C, in one run.

A private simulated network serves the example configuration folder; the
package loads libKalvo there and opens DIO_1. Three loops write DIO_1's
output word: ``Dio.write`` (argument checks, the bound call, its return
code check), the bound ctypes call alone, and a C loop calling the same
library function (python_dio_bench_loop.c). Each repetition times each loop
once, in random order; a ratio is the median of the per-repetition ratios,
with the middle half of them. Run twice: with the library's log mask 0 (the
call itself) and with its default mask (every call writes a log line).

    python_dio_bench [--benchmark_min_time=SECONDS] [--repetitions=N]
"""

from __future__ import annotations

import argparse
import ctypes
import os
import random
import statistics
import sys
import time
from typing import Callable, Dict, List

import kalvo
from kalvo import _library
from kalvo.simulation import SimulatedNetwork, example_folder, wait_until


def processor() -> str:
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown"


def per_call(loop: Callable[[int], None], count: int) -> float:
    start = time.perf_counter()
    loop(count)
    return (time.perf_counter() - start) / count


def measure(folder: str, loop_module: ctypes.CDLL, seconds: float, repetitions: int) -> Dict[str, List[float]]:
    kalvo.load(folder)
    with kalvo.Dio(1) as dio:
        wait_until(lambda: dio.condition)
        bound = _library.current().calls.KV_DIO_OutData
        address = ctypes.cast(bound, ctypes.c_void_p).value
        c_loop = loop_module.kalvo_bench_out_data
        c_loop.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32]
        c_loop.restype = ctypes.c_int32

        def python_write(count: int) -> None:
            for i in range(count):
                dio.write(i & 0xFFFF)

        def ctypes_call(count: int) -> None:
            for i in range(count):
                bound(1, i & 0xFFFF)

        def c_calls(count: int) -> None:
            if c_loop(address, 1, count) != 0:
                raise RuntimeError("KV_DIO_OutData failed in the C loop")

        loops = {"Dio.write": python_write, "ctypes call": ctypes_call, "KV_DIO_OutData from C": c_calls}
        # Calls per loop and repetition: about `seconds` of each.
        counts = {name: max(100, int(seconds / per_call(loop, 1000))) for name, loop in loops.items()}
        times: Dict[str, List[float]] = {name: [] for name in loops}
        for _ in range(repetitions):
            order = list(loops)
            random.shuffle(order)
            for name in order:
                times[name].append(per_call(loops[name], counts[name]))
    kalvo.unload()
    return times


def report(label: str, times: Dict[str, List[float]]) -> None:
    baseline = times["KV_DIO_OutData from C"]
    print(f"== {label}: {statistics.median(baseline) * 1e6:.2f} us per KV_DIO_OutData from C")
    for name in ("Dio.write", "ctypes call"):
        ratios = sorted(ours / base for ours, base in zip(times[name], baseline))
        quarter = len(ratios) // 4
        print(f"ratio {name} / KV_DIO_OutData from C = {statistics.median(ratios):.2f} "
              f"(middle half {ratios[quarter]:.2f}-{ratios[-1 - quarter]:.2f} of {len(ratios)})")


def main() -> int:
    parser = argparse.ArgumentParser(description="Dio.write against KV_DIO_OutData from C")
    parser.add_argument("--benchmark_min_time", type=float, default=0.05, help="seconds per loop and repetition")
    parser.add_argument("--repetitions", type=int, default=10)
    arguments = parser.parse_args()
    loop_module = ctypes.CDLL(os.environ["KALVO_BENCH_LOOP"])
    print(f"processor: {processor()}")
    with SimulatedNetwork(example_folder()) as network:
        ini = network.folder / "KalvoLog.ini"
        for label, content in (("log mask 0", "[LOG]\nLOGLEVEL=0H\n"), ("default log mask", "")):
            ini.write_text(content)
            report(label, measure(str(network.folder), loop_module, arguments.benchmark_min_time,
                                  arguments.repetitions))
    return 0


if __name__ == "__main__":
    sys.exit(main())
