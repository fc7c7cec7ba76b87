"""quv3.read against the C library's own output (quvdec), and soundfile's shapes."""

import subprocess

import numpy as np
import pytest
import soundfile

import quv3
from conftest import ALL_FIXTURES, FIXTURES, reference
from test_sources import Stream


@pytest.mark.parametrize("path", ALL_FIXTURES, ids=lambda p: p.name)
def test_every_fixture_equals_the_c_library(path):
    for gapless in (True, False):
        for dtype in ("int16", "float32"):
            data, rate = quv3.read(path, dtype, gapless=gapless, always_2d=True)
            truth = reference(path, dtype, gapless)
            assert data.dtype == np.dtype(dtype)
            # Bit for bit: the floats compared as their bit patterns.
            assert data.shape == truth.shape and data.tobytes() == truth.tobytes(), (path.name, dtype, gapless)
    assert rate == quv3.info(path).samplerate


@pytest.mark.parametrize("name", ["j44_128.mp3", "m32_64.mp3"])
def test_shapes_and_dtypes_as_soundfile_gives_them(name):
    path = FIXTURES / name
    for dtype in ("float32", "int16"):
        for always_2d in (False, True):
            ours, our_rate = quv3.read(path, dtype, always_2d=always_2d)
            theirs, their_rate = soundfile.read(path, dtype=dtype, always_2d=always_2d)
            assert (ours.ndim, ours.shape[1:], ours.dtype, our_rate) == \
                   (theirs.ndim, theirs.shape[1:], theirs.dtype, their_rate)
            assert ours.flags.c_contiguous


def test_start_and_stop_slice_the_whole_decode_as_soundfile_does():
    path = FIXTURES / "j44_128.mp3"
    whole, _ = quv3.read(path)
    n = len(whole)
    cuts = [(0, None), (1, 2), (1151, 1153), (5000, 40000), (n - 10, None), (-1000, None), (-3000, -5),
            (100, -100), (n, None), (n + 10, None), (500, 100), (0, 0), (-10 * n, 50), (3000, 10 * n)]
    for start, stop in cuts:
        for dtype in ("float32", "int16"):
            part, _ = quv3.read(path, dtype, start=start, stop=stop)
            expected = whole[start:stop] if dtype == "float32" else quv3.read(path, "int16")[0][start:stop]
            assert np.array_equal(part, expected), (start, stop, dtype)
    # An input read forward only: decoded up to start, or whole for a negative start.
    for start, stop in [(5000, 40000), (-3000, -5), (1151, None), (n + 10, None)]:
        stream = Stream(path.read_bytes())
        assert np.array_equal(quv3.read(stream, start=start, stop=stop)[0], whole[start:stop]), (start, stop)
    # soundfile's own slicing of its own decode, the same rule
    theirs = soundfile.read(path, start=-3000, stop=-5, dtype="float32")[0]
    assert len(theirs) == len(quv3.read(path, start=-3000, stop=-5)[0])


@pytest.mark.parametrize("name,frames", [
    ("gapless44_cbr.mp3", 123457), ("gapless44_vbr.mp3", 123457), ("gapless44_ffmpeg.mp3", 123457),
    ("gapless32_mono.mp3", 54321), ("gapless32_ffmpeg.mp3", 54321), ("gapless22_vbr.mp3", 54321)])
def test_gapless_lengths_are_the_encoders_input(name, frames):
    path = FIXTURES / name
    assert len(quv3.read(path)[0]) == frames
    info = quv3.info(path)
    assert (info.frames, info.frames_kind, info.gapless) == (frames, "exact", True)
    assert info.duration == frames / info.samplerate
    assert len(quv3.read(path, gapless=False)[0]) > frames


def test_mono_and_resampling_equal_quvdec(tmp_path):
    for name in ("j44_128.mp3", "gapless22_vbr.mp3", "m22_24_lsf.mp3"):
        path = FIXTURES / name
        for dtype in ("float32", "int16"):
            mono, _ = quv3.read(path, dtype, mono=True, always_2d=True)
            assert mono.tobytes() == reference(path, dtype, options=("--mono",)).tobytes()
            for rate in (48000, 16000):
                data, got_rate = quv3.read(path, dtype, samplerate=rate, always_2d=True)
                assert got_rate == rate
                assert data.tobytes() == reference(path, dtype, options=("--rate", str(rate))).tobytes()
        # The stream's own rate: no resampling, the decoded samples as they are.
        rate = quv3.info(path).samplerate
        assert np.array_equal(quv3.read(path, samplerate=rate)[0], quv3.read(path)[0])
    # 6 s: libsoxr is fed several pieces.
    long = tmp_path / "long.mp3"
    long.write_bytes((FIXTURES / "m44_320_notag.mp3").read_bytes() * 4)
    for rate in (48000, 16000):
        data, _ = quv3.read(long, samplerate=rate, always_2d=True)
        assert data.tobytes() == reference(long, options=("--rate", str(rate))).tobytes()


def test_int16_is_the_float_output_by_the_librarys_rule():
    floats, _ = quv3.read(FIXTURES / "s48_160.mp3")
    ints, _ = quv3.read(FIXTURES / "s48_160.mp3", "int16")
    # x * 32767 in double, to the nearest integer (ties to even), clipped.
    rule = np.clip(np.rint(floats.astype(np.float64) * 32767.0), -32767, 32767).astype(np.int16)
    assert np.array_equal(rule, ints)


def test_bad_arguments_are_refused():
    path = FIXTURES / "j44_128.mp3"
    with pytest.raises(ValueError):
        quv3.read(path, "float64")
    with pytest.raises(ValueError):  # the other byte order: not silently the native one
        quv3.read(path, np.dtype("int16").newbyteorder())
    with pytest.raises(ValueError):
        quv3.read(path, samplerate=0)
    with pytest.raises(TypeError):
        quv3.read(12345)


def test_the_extension_stands_alone():
    # The decoder is linked in; libsoxr is loaded only when resampling.
    ldd = subprocess.run(["ldd", quv3._quv3.__file__], capture_output=True, text=True, check=True).stdout
    assert "quv3" not in ldd and "soxr" not in ldd, ldd
