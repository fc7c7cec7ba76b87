"""quv3.read against the C library, and against soundfile.read and audioread
on the same files in the same run, then quv3.read in a thread pool.

CPU seconds are the median of the rounds: the process's own for the Python
readers (time.process_time around the call; audioread adds its children, the
ffmpeg it runs); for the C library, the decodes whole_read
(bench/whole_read.cpp) times in its own process, each into one buffer of its
own as quv3.read does, the reference of the "x C" columns, and quvdec's as a
child process writing raw samples of the same format to /dev/null. The thread pool's figures are
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


def cpu_of(fn, rounds):
    times = []
    for _ in range(rounds):
        c0, p0 = children_cpu(), time.process_time()
        fn()
        times.append(time.process_time() - p0 + children_cpu() - c0)
    return statistics.median(times)


def quvdec(path, fmt, exe):
    subprocess.run([exe, "-q", "--raw", "-f", fmt, "-o", "/dev/null", path], check=True)


def whole_read(path, fmt, exe, rounds):
    """The median CPU seconds whole_read measured itself, over its decodes in one process."""
    out = subprocess.run([exe, path, fmt, str(rounds)], check=True, capture_output=True, text=True).stdout
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
    for path in a.files:
        info = quv3.info(path)
        length = f"{info.duration:.0f} s" if info.duration else "?"
        name = os.path.basename(path)
        c = {fmt: whole_read(path, fmt, a.whole, a.rounds) for fmt in ("s16", "f32")}
        rows = [
            ("C library, into memory (whole_read)", c["s16"], c["f32"]),
            ("C library, quvdec -q --raw to /dev/null", cpu_of(lambda: quvdec(path, "s16", a.quvdec), a.rounds),
             cpu_of(lambda: quvdec(path, "f32", a.quvdec), a.rounds)),
            ("quv3.read", cpu_of(lambda: quv3.read(path, "int16"), a.rounds),
             cpu_of(lambda: quv3.read(path, "float32"), a.rounds)),
            ("soundfile.read", cpu_of(lambda: soundfile_read(path, "int16"), a.rounds),
             cpu_of(lambda: soundfile_read(path, "float32"), a.rounds)),
        ]
        if audioread is not None:
            rows.append(("audioread", cpu_of(lambda: audioread_read(path), max(1, a.rounds // 2)), None))
        for reader, s16, f32 in rows:
            f32_cells = f"{f32:.3f} | {f32 / c['f32']:.2f}" if f32 is not None else "- | -"
            print(f"| {name} | {length} | {reader} | {s16:.3f} | {s16 / c['s16']:.2f} | {f32_cells} |")

    print()
    sources = [p for p in a.files for _ in range(a.copies)]
    audio = sum(quv3.info(p).duration or 0 for p in sources)
    print(f"thread pool: quv3.read(path, 'int16') over {len(sources)} decodes ({audio:.0f} s of audio)")
    print("| workers | wall s | speed-up | cores busy (CPU s / wall s) |")
    print("|---|---|---|---|")
    base = None
    for workers in (1, 2, 4):
        runs = []
        for _ in range(max(1, a.rounds // 2)):
            t0, c0 = time.perf_counter(), time.process_time()
            with ThreadPoolExecutor(workers) as pool:
                for _ in pool.map(lambda p: quv3.read(p, "int16"), sources):
                    pass
            runs.append((time.perf_counter() - t0, time.process_time() - c0))
        wall, cpu = sorted(runs)[len(runs) // 2]
        base = base or wall
        print(f"| {workers} | {wall:.3f} | {base / wall:.2f} | {cpu / wall:.2f} |")
    print(f"load average after: {os.getloadavg()[0]:.2f}")

if __name__ == "__main__":
    main()
