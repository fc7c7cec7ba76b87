"""Every kind of source gives the same samples; what cannot be decoded raises
quv3.Error naming the source, and nothing a source holds crashes the interpreter."""

import functools
import http.server
import io
import mmap
import random
import shutil
import threading
import urllib.request

import numpy as np
import pytest

import quv3
from conftest import FIXTURES, reference


class Stream:
    """A file object read forward only, in pieces of at most `piece` bytes,
    with read() only (no readinto, no seek): a pipe or a socket."""

    def __init__(self, data, piece=3000, fail_at=None):
        self._f = io.BytesIO(data)
        self.piece, self.fail_at = piece, fail_at

    def read(self, n=-1):
        if self.fail_at is not None and self._f.tell() >= self.fail_at:
            raise OSError("connection reset")
        return self._f.read(min(n, self.piece))

    def seekable(self):
        return False


@pytest.mark.parametrize("name", ["gapless44_vbr.mp3", "j8_16_mpeg25.mp3", "m44_320_notag.mp3"])
def test_every_source_gives_the_same_samples(name, tmp_path):
    path = FIXTURES / name
    data = path.read_bytes()
    truth = reference(path, "int16")
    unicode_path = tmp_path / "Motörhead – 東京 ♫.mp3"
    shutil.copy(path, unicode_path)
    with open(path, "rb") as f, mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ) as mapped:
        sources = {
            "str": str(path), "Path": path, "non-ASCII path": unicode_path, "bytes": data,
            "bytearray": bytearray(data), "memoryview": memoryview(data), "mmap": mapped,
            "numpy": np.frombuffer(data, np.uint8), "BytesIO": io.BytesIO(data),
            "open file": open(path, "rb"), "unbuffered file": open(path, "rb", buffering=0),
            "stream": Stream(data), "one byte at a time": Stream(data, piece=1),
        }
        for kind, source in sources.items():
            got, _ = quv3.read(source, "int16", always_2d=True)
            assert np.array_equal(got, truth), kind
            if hasattr(source, "close"):
                source.close()


def test_an_http_response_body_is_read_as_it_comes():
    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    handler = functools.partial(Quiet, directory=str(FIXTURES))
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        url = f"http://127.0.0.1:{server.server_address[1]}/gapless22_vbr.mp3"
        with urllib.request.urlopen(url, timeout=30) as body:
            got, rate = quv3.read(body, "int16", always_2d=True)
    finally:
        server.shutdown()
        server.server_close()
    assert rate == 22050 and np.array_equal(got, reference(FIXTURES / "gapless22_vbr.mp3", "int16"))


def test_a_file_object_is_read_from_where_it_stands():
    data = (FIXTURES / "j44_128.mp3").read_bytes()
    f = io.BytesIO(b"not audio" * 100 + data)
    f.seek(900)
    assert np.array_equal(quv3.read(f)[0], quv3.read(data)[0])


def test_bytes_are_read_in_place_and_held_until_closed():
    data = bytearray((FIXTURES / "j44_128.mp3").read_bytes())
    with quv3.Decoder(data) as d:
        with pytest.raises(BufferError):  # exported to the decoder: cannot move
            data.extend(b"x")
        d.read(1000)
    data.extend(b"x")  # let go after close


def errors_of(source, **kwargs):
    with pytest.raises(quv3.Error) as caught:
        quv3.read(source, **kwargs)
    return caught.value


def test_errors_name_the_source_and_carry_the_librarys_code(tmp_path):
    missing = tmp_path / "missing.mp3"
    e = errors_of(missing)
    assert (e.code, str(missing) in str(e), "No such file" in str(e)) == (-5, True, True)
    e = errors_of(tmp_path)
    assert str(tmp_path) in str(e) and "directory" in str(e)
    junk = tmp_path / "junk.mp3"
    junk.write_bytes(bytes(random.Random(1).randrange(256) for _ in range(5000)))
    assert errors_of(junk).code == -1 and str(junk) in str(errors_of(junk))
    assert errors_of(b"").code == -1
    assert errors_of(io.BytesIO(b"RIFF" + bytes(100))).code == -1
    assert isinstance(errors_of(missing), RuntimeError)
    # A stream cut short of the frames its header counts, and one cut inside its first header.
    # Sample 40000 lies between the real end (32303) and the header's count.
    data = (FIXTURES / "vbr44_xing.mp3").read_bytes()
    for start in (0, 40000):
        for cut in (data[: len(data) // 2], Stream(data[: len(data) // 2])):
            e = errors_of(cut, start=start)
            assert e.code == -4 and "truncated" in str(e)
    assert errors_of(data[:3]).code == -1
    # What is there can still be read through a Decoder; so can a part before the cut.
    with quv3.Decoder(data[: len(data) // 2]) as d:
        assert 0 < len(d.read()) < d.frames
    assert len(quv3.read(data[: len(data) // 2], stop=1000)[0]) == 1000


def test_a_header_claiming_billions_of_frames_is_only_a_claim():
    data = bytearray((FIXTURES / "vbr44_xing.mp3").read_bytes())
    at = data.find(b"Xing") + 8  # the frame count
    data[at:at + 4] = (2**31 - 1).to_bytes(4, "big")
    assert quv3.info(data).frames > 10**12
    e = errors_of(data)  # no attempt to hold 10**12 samples: the stream ends long before
    assert e.code == -4 and "truncated" in str(e)
    # Its encoder's numbers no longer match their check sum: decoded whole, as without gapless.
    with quv3.Decoder(data) as d:
        assert np.array_equal(d.read(), reference(FIXTURES / "vbr44_xing.mp3", gapless=False))


def test_a_file_objects_own_failures_surface():
    data = (FIXTURES / "j44_128.mp3").read_bytes()
    with pytest.raises(OSError, match="connection reset"):
        quv3.read(Stream(data, fail_at=8000))
    with pytest.raises(OSError, match="connection reset"):
        quv3.read(Stream(data, fail_at=0))
    with pytest.raises(TypeError):
        quv3.read(io.StringIO("text"))

    class TooMuch(Stream):
        def read(self, n=-1):
            return b"\xff" * (n + 1)

    class NotBytes(Stream):
        def read(self, n=-1):
            return "text"

    with pytest.raises(ValueError):
        quv3.read(TooMuch(data))
    with pytest.raises(TypeError):
        quv3.read(NotBytes(data))


def test_a_file_object_that_failed_once_is_read_again_after_a_seek():
    path = FIXTURES / "j44_128.mp3"

    class Flaky(io.BytesIO):
        armed = False  # once, past the bytes the open reads

        def readinto(self, b):
            if self.armed and self.tell() > 20000:
                self.armed = False
                raise TimeoutError
            return super().readinto(b)

    f = Flaky(path.read_bytes())
    with quv3.Decoder(f) as d:
        f.armed = True
        with pytest.raises(TimeoutError):
            d.read()
        assert d.seek(0) == 0 and np.array_equal(d.read(), reference(path))


def test_hostile_bytes_never_crash():
    rng = random.Random(27)
    good = (FIXTURES / "j22_64_lsf.mp3").read_bytes()
    for k in range(300):
        data = bytearray(good)
        for _ in range(rng.randrange(1, 40)):
            data[rng.randrange(len(data))] = rng.randrange(256)
        data = data[: rng.randrange(len(data) + 1)] if k % 3 == 0 else data
        source = Stream(bytes(data), piece=rng.randrange(1, 5000)) if k % 2 else bytes(data)
        try:
            out, _ = quv3.read(source, "int16" if k % 2 else "float32", start=rng.randrange(-3000, 3000))
        except quv3.Error:
            continue
        assert out.ndim in (1, 2) and np.isfinite(out.astype(np.float64)).all()
