"""quv3.read against the C library, and against soundfile.read and audioread
on the same files in the same run, then quv3.read in a thread pool.

CPU seconds are the median of the rounds, each round measuring every reader
in turn: the process's own for the Python readers (time.process_time around
the call; audioread adds its children, the ffmpeg it runs); for the C library,
the decodes whole_read (bench/whole_read.cpp) times in its own process, each
into one buffer of its own as quv3.read does, the reference of the "x C"
columns, and quvdec's as a child process writing raw samples of the same
format to /dev/null. The thread pool's figures are
wall-clock times over decoding every file `copies` times, 1, 2 and 4 workers.

Usage: python_bench.py --quvdec PATH --whole PATH [--rounds N] [--copies N] FILE...
Run by scripts/bench --python with the package installed in build/python-venv.
"""

import argparse
import os
import resource
import statistics
import subprocess
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import quv3


def children_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def cpu_of(fn, repeats=1):
    """The median CPU seconds of repeats calls of fn in this process and its children."""
    times = []
    for _ in range(repeats):
        c0, p0 = children_cpu(), time.process_time()
        fn()
        times.append(time.process_time() - p0 + children_cpu() - c0)
    return statistics.median(times)


def quvdec(path, fmt, exe):
    subprocess.run([exe, "-q", "--raw", "-f", fmt, "-o", "/dev/null", path], check=True)


def whole_read(path, fmt, exe, repeats):
    """The median CPU seconds whole_read measured itself, over its decodes in one process."""
    out = subprocess.run([exe, path, fmt, str(repeats)], check=True, capture_output=True, text=True).stdout
    return float(out)


def soundfile_read(path, dtype):
    import soundfile

    return soundfile.read(path, dtype=dtype)


def audioread_read(path):
    import audioread

    with audioread.audio_open(path) as f:
        return np.frombuffer(b"".join(f), dtype="<i2").reshape(-1, f.channels)


def processor():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    return "unknown"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--quvdec", required=True)
    ap.add_argument("--whole", required=True)
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--copies", type=int, default=4)
    ap.add_argument("files", nargs="+")
    a = ap.parse_args()
    try:
        import audioread

        backends = ", ".join(b.__name__ for b in audioread.available_backends()) or "none"
    except ImportError:
        audioread, backends = None, "not installed"
    print(f"processor: {processor()}, {os.cpu_count()} cores; load average {os.getloadavg()[0]:.2f}")
    print(f"audioread backends: {backends}")
    print()
    print("| file | length | reader | int16 CPU s | x C | float32 CPU s | x C |")
    print("|---|---|---|---|---|---|---|")
    dtypes = {"s16": "int16", "f32": "float32"}
    for path in a.files:
        info = quv3.info(path)
        length = f"{info.duration:.0f} s" if info.duration else "?"
        name = os.path.basename(path)
        # Each round measures every reader once (the in-process ones as the
        # median of 3 calls, warm as whole_read's decodes are), so that other
        # load on the machine falls on each alike; the figure is the median
        # of the rounds.
        readers = {
            "C library, into memory (whole_read)": lambda fmt: whole_read(path, fmt, a.whole, 3),
            "C library, quvdec -q --raw to /dev/null": lambda fmt: cpu_of(lambda: quvdec(path, fmt, a.quvdec)),
            "quv3.read": lambda fmt: cpu_of(lambda: quv3.read(path, dtypes[fmt]), 3),
            "soundfile.read": lambda fmt: cpu_of(lambda: soundfile_read(path, dtypes[fmt]), 3),
        }
        if audioread is not None:  # 16-bit output only
            readers["audioread (ffmpeg)"] = lambda fmt: cpu_of(lambda: audioread_read(path)) if fmt == "s16" else None
        figures = {(r, fmt): [] for r in readers for fmt in dtypes}
        for k in range(a.rounds):
            for reader, measure in readers.items():
                for fmt in dtypes:
                    if reader.startswith("audioread") and k % 2:
                        continue
                    figures[reader, fmt].append(measure(fmt))
        median = {key: statistics.median(v) if v and v[0] is not None else None for key, v in figures.items()}
        c = {fmt: median["C library, into memory (whole_read)", fmt] for fmt in dtypes}
        for reader in readers:
            cells = [f"{median[reader, fmt]:.3f} | {median[reader, fmt] / c[fmt]:.2f}"
                     if median[reader, fmt] is not None else "- | -" for fmt in dtypes]
            print(f"| {name} | {length} | {reader} | {' | '.join(cells)} |")

    print()
    sources = [p for p in a.files for _ in range(a.copies)]
    audio = sum(quv3.info(p).duration or 0 for p in sources)
    print(f"thread pool: quv3.read(path, 'int16') over {len(sources)} decodes ({audio:.0f} s of audio)")
    print("| workers | wall s | speed-up | cores busy (CPU s / wall s) |")
    print("|---|---|---|---|")
    # The worker counts take turns, so that other load on the machine falls
    # on each alike.
    runs = {1: [], 2: [], 4: []}
    for _ in range(max(3, a.rounds)):
        for workers, times in runs.items():
            t0, c0 = time.perf_counter(), time.process_time()
            with ThreadPoolExecutor(workers) as pool:
                for _ in pool.map(lambda p: quv3.read(p, "int16"), sources):
                    pass
            times.append((time.perf_counter() - t0, time.process_time() - c0))
    base = None
    for workers, times in runs.items():
        wall, cpu = sorted(times)[len(times) // 2]
        base = base or wall
        print(f"| {workers} | {wall:.3f} | {base / wall:.2f} | {cpu / wall:.2f} |")
    print(f"load average after: {os.getloadavg()[0]:.2f}")

if __name__ == "__main__":
    main()
