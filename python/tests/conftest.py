"""The truth the tests compare with: the C library's samples as its own host,
quvdec, writes them (raw, in the format asked for)."""

import functools
import os
import subprocess
from pathlib import Path

import numpy as np
import pytest

REPO = Path(__file__).resolve().parents[2]
FIXTURES = REPO / "tests" / "fixtures"
ALL_FIXTURES = sorted(FIXTURES.glob("*.mp3"))


def quvdec_path():
    path = Path(os.environ.get("QUV3_QUVDEC", REPO / "build" / "release" / "quvdec"))
    if not path.is_file():
        pytest.fail(f"no quvdec at {path}: build it (cmake --build build/release --target quvdec) or set QUV3_QUVDEC")
    return path


@functools.lru_cache(maxsize=None)
def _quvdec(path, fmt, gapless, options):
    args = [str(quvdec_path()), "-q", "--raw", "-f", fmt, *options, "-o", "-", str(path)]
    if not gapless:
        args.insert(1, "--no-gapless")
    out = subprocess.run(args, capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype="<f4" if fmt == "f32" else "<i2")


def reference(path, dtype="float32", gapless=True, channels=None, options=()):
    """quvdec's samples of path as a (frames, channels) array."""
    fmt = "f32" if dtype == "float32" else "s16"
    if channels is None:
        channels = 1 if "--mono" in options else int(_describe(str(path))["channels"])
    return _quvdec(str(path), fmt, gapless, tuple(options)).reshape(-1, channels)


@functools.lru_cache(maxsize=None)
def _describe(path):
    """quvdec --info's lines as a dict."""
    out = subprocess.run([str(quvdec_path()), "--info", path], capture_output=True, text=True, check=True).stdout
    return {k.strip(): v.strip() for k, _, v in (line.partition(":") for line in out.splitlines())}


def describe(path):
    return _describe(str(path))
