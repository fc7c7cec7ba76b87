"""quv3: exact, fast MPEG audio Layer III decoding into NumPy arrays.

The interface follows soundfile's::

    import quv3
    data, samplerate = quv3.read("song.mp3")            # float32, (frames, channels)
    data, samplerate = quv3.read("song.mp3", "int16")   # the library's 16-bit samples
    print(quv3.info("song.mp3"))
    with quv3.Decoder("long.mp3") as d:
        for block in d.blocks(65536):
            ...

A source is a path (str or os.PathLike), a bytes-like object (bytes,
bytearray, memoryview, mmap: read in place, not copied) or a binary file
object with read() (readinto() is used where it exists; seek() and tell()
where seekable() says True). The decoding runs without the GIL, so threads
decoding different sources use several cores.

The samples are the C library's own: int16 output bit for bit, float32
output exactly (float32 rounded by the library's rule, x * 32767 to the
nearest integer with ties to even and clipped to +-32767, gives the int16
output).
"""

import dataclasses
import io
import mmap
import os
from typing import Optional

import numpy as np

from . import _quv3

__all__ = ["read", "info", "Decoder", "Info", "Error"]

try:
    from importlib.metadata import version as _version

    __version__ = _version("quv3")
except Exception:  # not installed as a distribution (a build tree on sys.path)
    __version__ = "unknown"


class Error(RuntimeError):
    """A source that cannot be decoded, or a call the decoder refuses.

    ``code`` is the library's result code (QUV3_*: -1 no frame header where
    the frames should begin, -4 no further frame, -5 cannot open, -6 not
    Layer III, -7 the input cannot seek, -8 a bad call); the message names
    the source.
    """

    def __init__(self, message, code=None):
        super().__init__(message)
        self.code = code


_quv3._set_error_class(Error)

_FORMATS = {"float32": _quv3.F32, "int16": _quv3.S16}
_TOTAL_KINDS = {
    _quv3.TOTAL_UNKNOWN: "unknown",
    _quv3.TOTAL_EXACT: "exact",
    _quv3.TOTAL_COUNTED: "counted",
    _quv3.TOTAL_ESTIMATED: "estimated",
}
_VERSIONS = {1: "MPEG-1", 2: "MPEG-2 LSF", 3: "MPEG 2.5"}
_END = -4


def _format_of(dtype):
    # Compared as dtypes, not by name: a name drops the byte order, and the
    # samples come only in the machine's own.
    try:
        wanted = np.dtype(dtype)
    except TypeError:
        wanted = None
    name = next((n for n in _FORMATS if np.dtype(n) == wanted), None)
    if name is None:
        raise ValueError(f"dtype must be 'float32' or 'int16', not {dtype!r}")
    return name, _FORMATS[name]


@dataclasses.dataclass(frozen=True)
class Info:
    """What a stream's headers say, as quv3.info() and Decoder.info give it.

    frames is the number of samples per channel a decode delivers (gapless or
    not, as opened); frames_kind says where it comes from: "exact" (the
    encoder's frame count, with its delay and padding when gapless),
    "counted" (the frames counted by their headers), "estimated" (from the
    size and the bitrate, for a stream of an hour or more) or "unknown" (an
    input read forward only whose first frame gives no frame count; frames
    and duration are then None).
    """

    name: str
    samplerate: int
    channels: int
    frames: Optional[int]
    frames_kind: str
    duration: Optional[float]
    version: int  # 1 MPEG-1, 2 MPEG-2 LSF, 3 MPEG 2.5
    layer: int
    bitrate: int  # kbit/s: the first frame's, or the average of a VBR stream
    vbr: bool
    samples_per_frame: int
    gapless: bool  # the output is trimmed to the encoder's delay and padding
    encoder_delay: Optional[int]
    encoder_padding: Optional[int]
    seekable: bool
    title: str = ""
    artist: str = ""
    album: str = ""
    year: str = ""
    track: str = ""
    genre: str = ""
    comment: str = ""

    @property
    def version_name(self):
        return _VERSIONS.get(self.version, str(self.version))

    @property
    def tags(self):
        """The tags' text fields that are not empty, as a dict."""
        fields = ("title", "artist", "album", "year", "track", "genre", "comment")
        return {f: getattr(self, f) for f in fields if getattr(self, f)}

    def __str__(self):
        if self.frames is None:
            length = "unknown (an input read forward only)"
        else:
            about = "about " if self.frames_kind == "estimated" else ""
            length = f"{about}{self.frames} samples, {about}{self.duration:.3f} s"
        if self.encoder_delay is None:
            gapless = "no (the stream does not give its encoder delay)"
        else:
            kept = "trimmed" if self.gapless else "kept"
            gapless = (f"{'yes' if self.gapless else 'no'} (encoder delay {self.encoder_delay}, "
                       f"padding {self.encoder_padding} samples {kept})")
        lines = [
            self.name,
            f"version: {self.version_name} Layer {self.layer}",
            f"samplerate: {self.samplerate} Hz",
            f"channels: {self.channels}",
            f"length: {length}",
            f"bitrate: {self.bitrate} kbit/s{' (average, VBR)' if self.vbr else ''}",
            f"gapless: {gapless}",
        ]
        lines += [f"{k}: {v}" for k, v in self.tags.items()]
        return "\n".join(lines)


def _source_name(source):
    name = getattr(source, "name", None)
    if isinstance(name, (str, bytes, os.PathLike)):
        return os.fsdecode(name)
    return f"<{type(source).__name__}>"


class Decoder:
    """A decoder over one source, read in pieces: soundfile.SoundFile's shape.

    ``Decoder(source, dtype="float32", *, gapless=True, mono=False)``

    ``gapless``: where the stream gives its encoder's delay and padding, the
    output is exactly the samples the encoder was given. ``mono``: two
    channels are mixed to one (their mean as floats; int16 output is that
    mean rounded by the library's rule). ``dtype`` is the default of read()
    and blocks().

    Use it as a context manager, or call close(). Attributes: samplerate,
    channels (of the output: 1 with mono), frames (None when unknown), info
    (an Info), name, closed, damage.
    """

    def __init__(self, source, dtype="float32", *, gapless=True, mono=False):
        self._dtype = _format_of(dtype)[0]
        self._mono = bool(mono)
        self._core = _quv3.Decoder()
        self.name = _open(self._core, source, bool(gapless))
        core_info = self._core.info()
        tags = self._core.tags()
        total, kind = core_info["total_samples"], _TOTAL_KINDS.get(core_info["total_kind"], "unknown")
        frames = None if kind == "unknown" else total
        rate = core_info["samplerate"]
        self.info = Info(
            name=self.name,
            samplerate=rate,
            channels=core_info["channels"],
            frames=frames,
            frames_kind=kind,
            duration=None if frames is None or rate <= 0 else frames / rate,
            version=core_info["version"],
            layer=core_info["layer"],
            bitrate=core_info["bitrate"],
            vbr=core_info["vbr"],
            samples_per_frame=core_info["samples_per_frame"],
            gapless=core_info["gapless"],
            encoder_delay=None if core_info["encoder_delay"] < 0 else core_info["encoder_delay"],
            encoder_padding=None if core_info["encoder_padding"] < 0 else core_info["encoder_padding"],
            seekable=core_info["seekable"],
            **tags,
        )

    # --- attributes

    @property
    def samplerate(self):
        return self.info.samplerate

    @property
    def channels(self):
        """Channels of the output: 1 when mixed to mono."""
        return 1 if self._mono else self.info.channels

    @property
    def frames(self):
        """Samples per channel of the whole output; None when unknown."""
        return self.info.frames

    @property
    def closed(self):
        return not self._core.is_open

    @property
    def damage(self):
        """(bytes skipped, frames lost) to damage met so far; (0, 0) for a clean stream."""
        return self._core.damage()

    def seekable(self):
        return self.info.seekable

    # --- reading

    def read(self, frames=-1, dtype=None, always_2d=False):
        """The next ``frames`` samples per channel (all that are left when
        negative) as an array of shape (n, channels), or (n,) for one channel
        unless ``always_2d``; fewer at the end of the stream."""
        _, fmt = _format_of(dtype or self._dtype)
        data = self._core.read(int(frames), fmt, self._mono)
        return data if always_2d or data.shape[1] != 1 else data.reshape(-1)

    def seek(self, frames, whence=io.SEEK_SET):
        """Moves to sample ``frames`` (from the start, the current position or
        the end, as whence says) and returns the new position. The next read
        delivers exactly what a decode from the start delivers there. An input
        read forward only moves forward by decoding."""
        if whence == io.SEEK_CUR:
            frames = self.tell() + frames
        elif whence == io.SEEK_END:
            if self.frames is None:
                raise Error(f"{self.name}: the length of an input read forward only is unknown", -7)
            frames = self.frames + frames
        elif whence != io.SEEK_SET:
            raise ValueError(f"invalid whence {whence!r}")
        if frames < 0:
            raise ValueError(f"cannot seek to sample {frames}")
        return self._core.seek(int(frames))

    def tell(self):
        """The number of the next sample read() delivers."""
        return self._core.tell()

    def blocks(self, blocksize, overlap=0, frames=-1, dtype=None, always_2d=False, fill_value=None):
        """Yields blocks of ``blocksize`` samples per channel up to the end (or
        ``frames`` samples), each starting ``blocksize - overlap`` after the
        one before; the last one is shorter unless ``fill_value`` pads it."""
        if blocksize <= 0 or not 0 <= overlap < blocksize:
            raise ValueError("blocksize must be positive and overlap in 0..blocksize-1")
        left = frames if frames >= 0 else None
        kept = None
        while left is None or left > 0:
            want = blocksize - (0 if kept is None else len(kept))
            if left is not None:
                want = min(want, left)
            new = self.read(want, dtype, always_2d=True)
            if left is not None:
                left -= len(new)
            if len(new) == 0:
                break
            block = new if kept is None else np.concatenate([kept, new])
            last = len(new) < want or left == 0
            kept = block[len(block) - overlap:].copy() if overlap else None
            if last and fill_value is not None and len(block) < blocksize:
                pad = np.full((blocksize - len(block), block.shape[1]), fill_value, dtype=block.dtype)
                block = np.concatenate([block, pad])
            yield block if always_2d or block.shape[1] != 1 else block.reshape(-1)
            if last:
                break

    def close(self):
        """Closes the stream and lets go of the source."""
        self._core.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        state = "closed" if self.closed else f"{self.samplerate} Hz, {self.channels} ch, frames {self.frames}"
        return f"quv3.Decoder({self.name!r}, {state})"


def _open(core, source, gapless):
    """Opens core on source; returns the source's name for messages."""
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        name = os.fsdecode(path)
        # The library takes UTF-8 (on Windows too); elsewhere the file
        # system's own bytes, undecodable names included.
        raw = path.encode("utf-8") if os.name == "nt" and isinstance(path, str) else os.fsencode(path)
        try:
            core.open_path(raw, gapless, name)
        except Error as e:
            if os.path.isdir(path):
                raise Error(f"{name}: is a directory", e.code) from None
            raise
        return name
    if isinstance(source, (bytes, bytearray, memoryview, mmap.mmap)) or _is_buffer(source):
        name = f"<{type(source).__name__} of {memoryview(source).nbytes} bytes>"
        core.open_buffer(source, gapless, name)
        return name
    if isinstance(source, io.TextIOBase):
        raise TypeError(f"{_source_name(source)}: quv3 reads a file opened in binary mode")
    if hasattr(source, "read"):
        name = _source_name(source)
        readinto = callable(getattr(source, "readinto", None))
        base, length = 0, -1
        seekable = _seekable(source)
        if seekable:
            # The stream starts where the file is now.
            try:
                base = source.tell()
                source.seek(0, io.SEEK_END)
                length = source.tell() - base
                source.seek(base)
            except (OSError, ValueError):  # says it can seek, but cannot
                seekable, base, length = False, 0, -1
        core.open_file(source, readinto, seekable, base, length, gapless, name)
        return name
    raise TypeError(f"quv3 reads a path, a bytes-like object or a binary file object, not {type(source).__name__}")


def _is_buffer(obj):
    try:
        memoryview(obj)
    except TypeError:
        return False
    return not hasattr(obj, "read")


def _seekable(f):
    try:
        return bool(f.seekable()) and callable(getattr(f, "tell", None)) and callable(getattr(f, "seek", None))
    except Exception:
        return False


def _cut_short(d, where, total):
    """Fewer samples than the stream's headers promise: the file is cut short
    (or frames were lost to damage). quv3.read raises it rather than give a
    short array; a Decoder reads what there is."""
    _, lost = d.damage
    why = f"{lost} frames lost to damage" if lost else "the file is truncated"
    return Error(f"{d.name}: the stream ends {where} of {total}: {why}", _END)


def info(source, *, gapless=True):
    """The stream's description and tags as an Info, from its headers (nothing
    is decoded). frames is what read(source, gapless=gapless) delivers."""
    with Decoder(source, gapless=gapless) as d:
        return d.info


def read(source, dtype="float32", *, start=0, stop=None, gapless=True, mono=False, samplerate=None,
         always_2d=False):
    """Decodes source; returns (data, samplerate).

    data has shape (frames, channels), or (frames,) for one channel unless
    always_2d; dtype is "float32" (1.0 full scale) or "int16".

    start and stop are samples per channel of the stream, as in soundfile:
    negative values count from the end, and the samples from start up to
    (not including) stop are decoded, starting with a seek where the input
    can seek. gapless: where the stream gives its encoder's delay and padding,
    exactly the samples the encoder was given. mono mixes two channels into
    their mean. samplerate resamples (libsoxr, very high quality) from the
    stream's rate; the returned rate is then that one. int16 output of a mix
    or a resampling is the float result rounded by the library's rule.

    Raises quv3.Error when the source cannot be opened or decoded, and when
    the stream ends before the samples its headers promise (a truncated
    file); a Decoder reads what there is.
    """
    name, fmt = _format_of(dtype)
    rate_out = None if samplerate is None else int(samplerate)
    if rate_out is not None and rate_out <= 0:
        raise ValueError("samplerate must be positive")
    with Decoder(source, gapless=gapless) as d:
        rate = d.samplerate
        resample = rate_out is not None and rate_out != rate
        # Floats for anything computed after the decode; the library's own
        # 16-bit samples otherwise.
        work = _quv3.F32 if resample else fmt
        core = d._core
        total = d.frames if d.info.frames_kind in ("exact", "counted") else None
        negative = start < 0 or (stop is not None and stop < 0)
        if total is None and negative:
            # The end is known only once decoded: all of it, then the slice
            # (a copy where it is small, not a view holding the whole).
            whole = core.read(-1, work, mono)
            data = whole[start:stop]
            if 2 * len(data) < len(whole):
                data = data.copy()
        else:
            if total is not None:
                start, stop, _ = slice(start, stop).indices(total)
                stop = max(stop, start)
            count = -1 if stop is None else max(int(stop) - int(start), 0)
            if count != 0 and start > 0:
                try:
                    reached = d.seek(start)
                except Error as e:
                    if e.code != _END:
                        raise
                    reached = None
                if reached != start:
                    if total is not None:  # start < total: the stream ends before its headers say
                        raise _cut_short(d, f"before sample {start}" if reached is None else f"at sample {reached}",
                                         total)
                    count = 0  # past the end
            data = core.read(count, work, mono)
            if total is not None and len(data) < count:
                raise _cut_short(d, f"at sample {start + len(data)}", total)
    if resample:
        data = _quv3.resample(data, rate, rate_out)
        rate = rate_out
        if name == "int16":
            data = _quv3.f32_to_s16(data)
    if not always_2d and data.shape[1] == 1:
        data = data.reshape(-1)
    return data, rate
