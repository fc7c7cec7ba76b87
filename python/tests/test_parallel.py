"""Many files at once: a thread pool, and the README's Dask recipe on a local
cluster of two worker processes. Paths and bytes travel; decoders do not."""

import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import quv3
from conftest import ALL_FIXTURES, FIXTURES


def figures(source):
    """The README recipe's per-file figures: samples per channel and RMS."""
    data, rate = quv3.read(source, always_2d=True)
    rms = float(np.sqrt(np.mean(np.square(data, dtype=np.float64)))) if data.size else 0.0
    return len(data), rms


def test_four_threads_give_the_serial_arrays():
    paths = ALL_FIXTURES * 2
    serial = [quv3.read(p, "int16")[0] for p in paths]
    with ThreadPoolExecutor(4) as pool:
        threaded = list(pool.map(lambda p: quv3.read(p, "int16")[0], paths))
    assert all(np.array_equal(a, b) for a, b in zip(serial, threaded))


def test_the_gil_is_released_while_decoding():
    # 450 s of audio in one stream (a bare stream repeated): a decode long
    # enough for the main thread to be scheduled during it.
    data = (FIXTURES / "m44_320_notag.mp3").read_bytes() * 300
    stamps, span = [], []
    with quv3.Decoder(data) as d:
        def decode():
            t0 = time.perf_counter()
            d.read()
            span.extend([t0, time.perf_counter()])

        worker = threading.Thread(target=decode)
        worker.start()
        while worker.is_alive():
            stamps.append(time.perf_counter())
            time.sleep(0.001)
        worker.join()
    # Python code ran in this thread while the other was inside the decoder:
    # in the middle of its call, not only where the call begins or ends.
    quarter = (span[1] - span[0]) / 4
    assert any(span[0] + quarter < s < span[1] - quarter for s in stamps), (span, len(stamps))


def test_the_dask_recipe_on_a_local_cluster_equals_the_serial_figures():
    distributed = pytest.importorskip("distributed")
    import cloudpickle  # which distributed brings; the other tests here do without it

    # The workers cannot import this test file: figures travels by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    serial = [figures(p) for p in ALL_FIXTURES]
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None,
                                  silence_logs=40) as cluster, distributed.Client(cluster) as client:
        # Paths, for workers that see the same files ...
        by_path = client.gather(client.map(figures, [str(p) for p in ALL_FIXTURES]))
        # ... and the files' bytes, for workers that do not.
        by_bytes = client.gather(client.map(figures, [p.read_bytes() for p in ALL_FIXTURES]))
        workers = client.run(lambda: __import__("os").getpid())
    assert len(set(workers.values())) == 2
    assert by_path == serial and by_bytes == serial
