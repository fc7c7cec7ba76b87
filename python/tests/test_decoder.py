"""The streaming Decoder and quv3.info."""

import io
import struct
import threading

import numpy as np
import pytest

import quv3
from conftest import FIXTURES, describe, reference
from test_sources import Stream

PATH = FIXTURES / "gapless44_vbr.mp3"


def test_reads_in_pieces_of_any_size_give_the_whole_decode():
    truth = reference(PATH, "float32")
    for source in (PATH, Stream(PATH.read_bytes())):
        with quv3.Decoder(source) as d:
            assert (d.samplerate, d.channels, d.frames) == (44100, 2, 123457)
            pieces, sizes = [], [1, 1151, 1152, 1153, 5000, 0, 77777]
            while True:
                piece = d.read(sizes[len(pieces) % len(sizes)])
                assert d.tell() == sum(map(len, pieces)) + len(piece)
                pieces.append(piece)
                if len(piece) == 0 and d.tell() == d.frames:
                    break
            assert d.read().shape == (0, 2)
        assert np.array_equal(np.concatenate(pieces), truth)


def test_seek_lands_on_the_sample_exactly():
    ints, floats = reference(PATH, "int16"), reference(PATH, "float32")
    with quv3.Decoder(PATH) as d:
        for at in (0, 100000, 1, 123456, 576, 61728, 3):
            assert d.seek(at) == at and d.tell() == at
            assert np.array_equal(d.read(2000, "int16"), ints[at:at + 2000])
        assert d.seek(-100, io.SEEK_END) == 123357 and np.array_equal(d.read(), floats[-100:])
        assert d.seek(123457) == 123457 and len(d.read()) == 0  # at the end, as a file can be
        d.seek(1000)
        assert d.seek(500, io.SEEK_CUR) == 1500
        with pytest.raises(quv3.Error) as e:
            d.seek(123458)
        assert e.value.code == -4
        with pytest.raises(ValueError):
            d.seek(-1)


def test_a_stream_seeks_forward_by_decoding():
    floats = reference(PATH, "float32")
    with quv3.Decoder(Stream(PATH.read_bytes())) as d:
        assert not d.seekable()
        assert d.seek(5000) == 5000 and np.array_equal(d.read(10), floats[5000:5010])
        with pytest.raises(quv3.Error) as e:
            d.seek(10)
        assert e.value.code == -7
        assert d.seek(10**9) == 123457  # the end, where it is


def test_dtype_may_change_inside_a_frame():
    ints, floats = reference(PATH, "int16"), reference(PATH, "float32")
    for source in (PATH, Stream(PATH.read_bytes())):
        with quv3.Decoder(source) as d:
            assert np.array_equal(d.read(100, "float32"), floats[:100])
            assert np.array_equal(d.read(100, "int16"), ints[100:200])
            if d.seekable():  # floats after 16-bit samples decode the frame again
                assert np.array_equal(d.read(100, "float32"), floats[200:300])


def test_blocks_as_soundfile_yields_them():
    floats = reference(PATH, "float32")
    with quv3.Decoder(PATH) as d:
        blocks = list(d.blocks(50000))
        assert [len(b) for b in blocks] == [50000, 50000, 23457]
        assert np.array_equal(np.concatenate(blocks), floats)
        d.seek(0)
        blocks = list(d.blocks(1000, overlap=200, frames=3000))
        # soundfile's rule: frames counts the samples read, overlaps read once
        assert [len(b) for b in blocks] == [1000, 1000, 1000, 600]
        assert np.array_equal(blocks[1], floats[800:1800]) and np.array_equal(blocks[3], floats[2400:3000])
        d.seek(123000)
        last = list(d.blocks(1000, fill_value=0))[-1]
        assert len(last) == 1000 and np.array_equal(last[:457], floats[123000:]) and not last[457:].any()
    with quv3.Decoder(FIXTURES / "m32_64.mp3", mono=True) as d:
        assert next(d.blocks(10)).shape == (10,)


def test_mono_decoder_mixes_as_quvdec():
    with quv3.Decoder(PATH, "int16", mono=True) as d:
        assert d.channels == 1
        parts = [d.read(999), d.read(5), d.read()]
    assert np.concatenate(parts).tobytes() == reference(PATH, "int16", options=("--mono",)).tobytes()


def test_a_closed_or_busy_decoder_refuses_calls():
    d = quv3.Decoder(PATH)
    d.close()
    assert d.closed
    with pytest.raises(quv3.Error) as e:
        d.read(10)
    assert e.value.code == -8

    class CallsBack(Stream):
        decoder = None

        def read(self, n=-1):
            if self.decoder is not None:
                self.decoder.read(10)  # back into its own decoder, from inside its call
            return super().read(n)

    source = CallsBack(PATH.read_bytes())
    with quv3.Decoder(source) as source.decoder:
        with pytest.raises(quv3.Error, match="in use"):
            source.decoder.read()


def test_info_describes_the_stream_as_quvdec_does():
    for name in ("j44_128.mp3", "vbr44_xing.mp3", "m22_24_lsf.mp3", "j8_16_mpeg25.mp3", "m44_320_notag.mp3"):
        path = FIXTURES / name
        info, theirs = quv3.info(path), describe(path)
        assert info.samplerate == int(theirs["sample rate"].split()[0])
        assert info.channels == int(theirs["channels"])
        assert info.frames == int(theirs["total samples"])
        assert info.version_name == theirs["version"] and info.layer == 3
        assert info.bitrate == int(theirs["bitrate"].split()[0]) and info.vbr == (theirs["vbr"] == "1")
        assert f"encoder delay {info.encoder_delay}, padding {info.encoder_padding}" in theirs["gapless"] \
            if info.encoder_delay is not None else "does not give" in theirs["gapless"]
        assert info.tags == {} and info.title == "" and isinstance(info.comment, str)
        assert info.name in str(info)
    path = FIXTURES / "j44_128.mp3"
    assert quv3.info(path, gapless=False).frames == len(reference(path, gapless=False)) == 60 * 1152
    info = quv3.info(Stream((FIXTURES / "m22_24_lsf.mp3").read_bytes()))
    assert (info.frames, info.frames_kind, info.duration) == (None, "unknown", None)


def tagged(data):
    """data between an ID3v2.3 tag (a UTF-16 title) and an ID3v1.1 tag."""
    text = "\ufeffMotörhead – Ace".encode("utf-16-le")
    frame = b"TIT2" + struct.pack(">I", len(text) + 1) + b"\0\0" + b"\x01" + text
    size = len(frame)
    syncsafe = bytes([(size >> 21) & 127, (size >> 14) & 127, (size >> 7) & 127, size & 127])
    id3v1 = (b"TAG" + b"Old title".ljust(30, b"\0") + b"An artist".ljust(30, b"\0") + b"An album".ljust(30, b"\0")
             + b"1999" + b"A comment".ljust(28, b"\0") + b"\0\x03" + bytes([17]))
    return b"ID3\x03\x00\x00" + syncsafe + frame + data + id3v1


def test_tags_are_read_from_both_ends():
    data = PATH.read_bytes()
    info = quv3.info(tagged(data))
    assert info.tags == {"title": "Motörhead – Ace", "artist": "An artist", "album": "An album", "year": "1999",
                         "track": "3", "genre": "Rock", "comment": "A comment"}
    assert np.array_equal(quv3.read(tagged(data))[0], reference(PATH))
    # An input read forward only: the tag at its start, none looked for at its end.
    assert quv3.info(Stream(tagged(data))).tags == {"title": "Motörhead – Ace"}


def test_decoders_in_threads_are_independent():
    names = ["j44_128.mp3", "s48_160.mp3", "gapless22_vbr.mp3", "m24_32_lsf.mp3"]
    serial = [quv3.read(FIXTURES / n)[0] for n in names]
    results = [None] * 4

    def work(k):
        for _ in range(5):
            results[k] = quv3.read(FIXTURES / names[k])[0]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(np.array_equal(a, b) for a, b in zip(results, serial))
