// quv3._quv3: the Python binding over the re-entrant library.
//
// A Decoder owns a decoder on memory of its own and whatever keeps its input
// alive: the exported buffer of a bytes-like object (read in place until the
// stream is closed) or the Python file object behind the reader callbacks.
// The library is called with the GIL released, so decoders in several threads
// run on several cores; the reader callbacks take the GIL back to call the
// file object, and an exception they meet is kept and raised once the
// library call has returned. The package's Python layer (quv3/__init__.py)
// gives the soundfile-like interface on top.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>

#if defined(QUV3_PY_SOXR)
#include <soxr.h>
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#endif

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "quv3_decoder.h"

namespace py = pybind11;

namespace {

// quv3.Error, handed over once by the package when it is imported.
PyObject* g_error_class = nullptr;

[[noreturn]] void Raise(int32_t code, const std::string& message) {
    PyObject* cls = g_error_class != nullptr ? g_error_class : PyExc_RuntimeError;
    py::object error = py::reinterpret_borrow<py::object>(cls)(message, code);
    PyErr_SetObject(cls, error.ptr());
    throw py::error_already_set();
}

std::string Describe(int32_t code) {
    switch (code) {
        case QUV3_NO_SYNC:
            return "no MPEG audio frame header at the start of the data";
        case QUV3_END:
            return "no further frame";
        case QUV3_CANNOT_OPEN:
            return "cannot open";
        case QUV3_NOT_LAYER3:
            return "not an MPEG Layer III stream";
        case QUV3_CANNOT_SEEK:
            return "the input cannot seek";
        case QUV3_BAD_CALL:
            return "bad call";
        default:
            return "unknown error";
    }
}

// ------------------------------------------------------------ a Python file object as the library's reader

// The callbacks run on the thread that called the library, with the GIL
// released by that call: each takes it back. The library reads a failed
// read as the end of the input, so the first exception is kept here and
// raised by the binding when the library call returns. Until then every
// callback fails at once; after it, the file is tried again (the library
// recovers from a failed read when a seek succeeds).
struct FileReader {
    py::object call;  // the file's readinto, or its read
    bool readinto = false;
    py::object seek;      // None for an input read forward only
    int64_t base = 0;     // the file's position when opened: the stream's offset 0
    int64_t length = -1;  // bytes from base to the end; -1 when unknown
    py::object scratch;   // the bytearray readinto fills
    std::optional<py::error_already_set> error;

    void Keep(py::error_already_set& e) {
        if (!error) error.emplace(std::move(e));
    }
    // Raises the kept exception (with the GIL held).
    void RaiseKept() {
        if (!error) return;
        py::error_already_set e = std::move(*error);
        error.reset();
        e.restore();
        throw py::error_already_set();
    }
};

void KeepCurrentError(FileReader& r) {
    py::error_already_set e;
    r.Keep(e);
}

// Runs a reader callback's work with the GIL, keeping the first exception it
// raises for the call that returns to Python: the library sees failed.
template <class Work>
auto Guarded(FileReader& r, decltype(std::declval<Work>()()) failed, Work work) {
    py::gil_scoped_acquire gil;
    if (r.error) return failed;
    try {
        return work();
    } catch (py::error_already_set& e) {
        r.Keep(e);
    } catch (py::builtin_exception& e) {
        e.set_error();
        KeepCurrentError(r);
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
        KeepCurrentError(r);
    }
    return failed;
}

int64_t ReadFile(void* user, void* buffer, int64_t n) {
    auto& r = *static_cast<FileReader*>(user);
    return Guarded(r, int64_t{-1}, [&]() -> int64_t {
        if (r.readinto) {
            // A bytearray of the binding's, never the library's buffer: a
            // view of it kept by the file object cannot reach the decoder.
            if (!r.scratch || PyByteArray_GET_SIZE(r.scratch.ptr()) != n)
                r.scratch = py::reinterpret_steal<py::object>(PyByteArray_FromStringAndSize(nullptr, n));
            if (!r.scratch) throw py::error_already_set();
            py::object got = r.call(r.scratch);
            if (got.is_none()) throw py::value_error("readinto() returned None: a non-blocking file is not supported");
            const int64_t k = got.cast<int64_t>();
            if (k < 0 || k > n || k > PyByteArray_GET_SIZE(r.scratch.ptr()))
                throw py::value_error("readinto() returned " + std::to_string(k) + " for a buffer of " +
                                      std::to_string(n) + " bytes");
            std::memcpy(buffer, PyByteArray_AS_STRING(r.scratch.ptr()), static_cast<size_t>(k));
            return k;
        }
        py::object got = r.call(n);
        if (got.is_none()) throw py::value_error("read() returned None: a non-blocking file is not supported");
        Py_buffer view;
        if (PyObject_GetBuffer(got.ptr(), &view, PyBUF_SIMPLE) != 0)
            throw py::type_error("read() must return bytes; the file must be opened in binary mode");
        const int64_t k = view.len;
        if (k <= n) std::memcpy(buffer, view.buf, static_cast<size_t>(k));
        PyBuffer_Release(&view);
        if (k > n) throw py::value_error("read(" + std::to_string(n) + ") returned " + std::to_string(k) + " bytes");
        return k;
    });
}

int32_t SeekFile(void* user, int64_t offset) {
    auto& r = *static_cast<FileReader*>(user);
    return Guarded(r, int32_t{-1}, [&]() -> int32_t {
        r.seek(r.base + offset);
        return 0;
    });
}

int64_t SizeOfFile(void* user) { return static_cast<FileReader*>(user)->length; }

// ------------------------------------------------------------ samples

// The samples of one decoded frame not yet handed out: a read that ends
// inside a frame keeps the rest for the next. Stored in the format the frame
// was decoded in; floats give either output (the library's rule rounds them
// to its 16-bit samples bit for bit), 16-bit samples only 16-bit ones.
struct Pending {
    alignas(16) float values[QUV3_MAX_FRAME_VALUES];  // int16 samples use the first half
    int32_t format = QUV3_F32;
    int64_t offset = 0;  // samples per channel already handed out
    int64_t count = 0;   // samples per channel left
};

// The two channels mixed into one as floats (as quvdec --mono does), then
// stored in the output format.
template <typename Out>
void StoreMixed(const float* s, int64_t n, Out* out) {
    for (int64_t k = 0; k < n; ++k) {
        const float m = (s[2 * k] + s[2 * k + 1]) * 0.5f;
        if constexpr (sizeof(Out) == 4)
            out[k] = m;
        else
            out[k] = quv3_f32_to_s16(m);
    }
}

// Copies n samples per channel of the pending frame to out in format,
// mixed to one channel when mix is set.
void Deliver(Pending& p, int64_t n, int channels, void* out, int32_t format, bool mix) {
    const int64_t from = p.offset * channels, values = n * channels;
    if (p.format == QUV3_S16) {  // only for 16-bit output, unmixed (Read sees to that)
        std::memcpy(out, reinterpret_cast<const int16_t*>(p.values) + from, static_cast<size_t>(values) * 2);
    } else if (mix && format == QUV3_F32) {
        StoreMixed(p.values + from, n, static_cast<float*>(out));
    } else if (mix) {
        StoreMixed(p.values + from, n, static_cast<int16_t*>(out));
    } else if (format == QUV3_F32) {
        std::memcpy(out, p.values + from, static_cast<size_t>(values) * 4);
    } else {
        auto* o = static_cast<int16_t*>(out);
        for (int64_t k = 0; k < values; ++k) o[k] = quv3_f32_to_s16(p.values[from + k]);
    }
    p.offset += n;
    p.count -= n;
}

// Output memory the binding allocates and a NumPy array takes over. A whole
// stream's samples run to hundreds of megabytes, and touching fresh 4 KiB
// pages one fault at a time costs more than decoding into them; large
// buffers are aligned to 2 MiB and asked for in huge pages where the system
// gives them on request.
void AdviseHugePages(char* p, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t{1} << 21;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}

struct OutputBuffer {
    static constexpr size_t kLarge = size_t{4} << 20;
    char* data = nullptr;
    int64_t capacity = 0;  // samples per channel
    size_t frame_bytes = 0;

    ~OutputBuffer() { std::free(data); }
    bool Reserve(int64_t samples) {
        if (samples <= capacity) return true;
        const size_t bytes = std::max<size_t>(1, static_cast<size_t>(samples) * frame_bytes);
        void* p = nullptr;
#if !defined(_WIN32)
        if (data == nullptr && bytes >= kLarge && posix_memalign(&p, size_t{1} << 21, bytes) != 0) p = nullptr;
#endif
        if (p == nullptr) p = std::realloc(data, bytes);
        if (p == nullptr) return false;
        data = static_cast<char*>(p);
        capacity = samples;
        if (bytes >= kLarge) AdviseHugePages(data, bytes);
        return true;
    }
    // Room for at least samples more, growing by half at a time.
    bool Grow(int64_t used, int64_t samples) {
        if (used + samples <= capacity) return true;
        return Reserve(std::max(used + samples, capacity + capacity / 2));
    }
    // The first used samples as a (used, channels) array of T that frees the memory.
    template <typename T>
    py::array Release(int64_t used, int channels) {
        if (used < capacity && (capacity - used) * frame_bytes > (1u << 16)) {
            void* p = std::realloc(data, std::max<size_t>(1, static_cast<size_t>(used) * frame_bytes));
            if (p != nullptr) data = static_cast<char*>(p), capacity = used;
        }
        if (data == nullptr && !Reserve(1)) throw std::bad_alloc();
        py::capsule owner(data, [](void* p) { std::free(p); });
        data = nullptr;
        const auto item = static_cast<py::ssize_t>(sizeof(T));
        return py::array_t<T>({static_cast<py::ssize_t>(used), static_cast<py::ssize_t>(channels)},
                              {item * channels, item}, reinterpret_cast<T*>(owner.get_pointer()), owner);
    }
};

constexpr int32_t kNoMemory = -1000;

// ------------------------------------------------------------ the decoder

class Decoder {
   public:
    Decoder() {
        const size_t align = quv3_decoder_alignment(), size = quv3_decoder_size();
        memory_.reset(new unsigned char[size + align]);
        const auto at = reinterpret_cast<uintptr_t>(memory_.get());
        d_ = quv3_decoder_init(memory_.get() + (align - at % align) % align, size);
        if (d_ == nullptr) throw std::runtime_error("quv3_decoder_init failed");
        pending_ = std::make_unique<Pending>();
    }
    ~Decoder() { Release(); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void OpenPath(const py::bytes& path, bool gapless, const std::string& name) {
        Busy busy(*this, name);
        Release();
        name_ = name;
        const std::string p = path;
        if (p.find('\0') != std::string::npos) throw py::value_error("embedded null byte in the path");
        int32_t r;
        int error;
        {
            py::gil_scoped_release nogil;
            errno = 0;
            r = quv3_open_file(d_, p.c_str(), Flags(gapless));
            error = errno;
        }
        if (r != 0) {
            std::string why = Describe(r);
            if (r == QUV3_CANNOT_OPEN && error != 0) why = std::string("cannot open: ") + std::strerror(error);
            Raise(r, name_ + ": " + why + " (" + std::to_string(r) + ")");
        }
        Opened();
    }

    void OpenBuffer(const py::object& source, bool gapless, const std::string& name) {
        Busy busy(*this, name);
        Release();
        name_ = name;
        // The object's own bytes, exported until the stream is closed: a
        // bytearray cannot be resized, nor an mmap closed, while they are read.
        if (PyObject_GetBuffer(source.ptr(), &view_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
        has_view_ = true;
        int32_t r;
        {
            py::gil_scoped_release nogil;
            r = quv3_open_memory(d_, view_.buf, static_cast<size_t>(view_.len), Flags(gapless));
        }
        if (r != 0) {
            Release();
            Raise(r, name_ + ": " + Describe(r) + " (" + std::to_string(r) + ")");
        }
        Opened();
    }

    void OpenFile(const py::object& file, bool readinto, bool seekable, int64_t base, int64_t length, bool gapless,
                  const std::string& name) {
        Busy busy(*this, name);
        Release();
        name_ = name;
        reader_ = std::make_unique<FileReader>();
        reader_->call = file.attr(readinto ? "readinto" : "read");
        reader_->readinto = readinto;
        reader_->seek = seekable ? py::object(file.attr("seek")) : py::object(py::none());
        reader_->base = base;
        reader_->length = length;
        const quv3_reader callbacks{ReadFile, seekable ? SeekFile : nullptr, seekable ? SizeOfFile : nullptr,
                                    reader_.get()};
        int32_t r;
        {
            py::gil_scoped_release nogil;
            r = quv3_open_reader(d_, &callbacks, Flags(gapless));
        }
        if (reader_->error || r != 0) {
            if (r == 0) quv3_close(d_);  // opened on what was read before the file raised
            std::unique_ptr<FileReader> reader = std::move(reader_);
            Release();
            reader->RaiseKept();
            Raise(r, name_ + ": " + Describe(r) + " (" + std::to_string(r) + ")");
        }
        Opened();
    }

    py::dict Info() {
        RequireOpen();
        const quv3_info& i = info_;
        py::dict d;
        d["version"] = i.version;
        d["layer"] = i.layer;
        d["channels"] = i.channels;
        d["samplerate"] = i.sample_rate;
        d["bitrate"] = i.bitrate;
        d["samples_per_frame"] = i.samples_per_frame;
        d["vbr"] = i.vbr != 0;
        d["seekable"] = i.seekable != 0;
        d["total_samples"] = i.total_samples;
        d["total_kind"] = i.total_kind;
        d["gapless"] = i.gapless != 0;
        d["encoder_delay"] = i.encoder_delay;
        d["encoder_padding"] = i.encoder_padding;
        d["encoder_frames"] = i.encoder_frames;
        return d;
    }

    py::dict Tags() {
        RequireOpen();
        quv3_tags t{};
        if (quv3_get_tags(d_, &t) != 0) t = quv3_tags{};
        py::dict d;
        const std::pair<const char*, const char*> fields[] = {
            {"title", t.title}, {"artist", t.artist}, {"album", t.album},     {"year", t.year},
            {"track", t.track}, {"genre", t.genre},   {"comment", t.comment},
        };
        for (const auto& [key, value] : fields) {
            // Bounded by the field, and decoded leniently: the text comes from the file.
            const size_t n = strnlen(value, sizeof t.title);
            PyObject* text = PyUnicode_DecodeUTF8(value, static_cast<py::ssize_t>(n), "replace");
            if (text == nullptr) throw py::error_already_set();
            d[key] = py::reinterpret_steal<py::object>(text);
        }
        return d;
    }

    py::tuple Damage() {
        Busy busy(*this, name_);
        RequireOpen();
        quv3_damage dmg{};
        quv3_get_damage(d_, &dmg);
        return py::make_tuple(dmg.skipped_bytes, dmg.lost_frames);
    }

    // Up to frames samples per channel (all that are left when negative) as
    // a (n, channels) array of format, two channels mixed to one when mono.
    py::array Read(int64_t frames, int32_t format, bool mono) {
        Busy busy(*this, name_);
        RequireOpen();
        if (format != QUV3_S16 && format != QUV3_F32) throw py::value_error("format must be QUV3_S16 or QUV3_F32");
        const int channels = info_.channels;
        const bool mix = mono && channels == 2;
        Pending& p = *pending_;
        if (p.count > 0 && p.format == QUV3_S16 && (format == QUV3_F32 || mix)) Redecode();
        OutputBuffer out;
        out.frame_bytes = static_cast<size_t>(mix ? 1 : channels) * (format == QUV3_F32 ? 4 : 2);
        // Room for what the stream says is left (and a frame, so the last
        // decodes in place), or for the count asked for where that is less;
        // the buffer grows past a wrong total. A header's total is only a
        // claim: no more is reserved than the input's bytes can hold (no
        // Layer III frame gives 64 samples a byte), nor, for an input of
        // unknown length, more than a few minutes at first.
        const int64_t left = info_.total_samples - Position();
        int64_t first = (info_.total_kind != QUV3_TOTAL_UNKNOWN ? std::max<int64_t>(left, 0) : int64_t{1} << 18) +
                        QUV3_MAX_FRAME_SAMPLES;
        const int64_t bytes = info_.frames.bytes;
        const int64_t plausible = bytes >= 0 && bytes < (int64_t{1} << 50) ? bytes * 64 : int64_t{1} << 24;
        first = std::min(first, plausible + QUV3_MAX_FRAME_SAMPLES);
        if (frames >= 0) first = std::min(first, frames);
        if (!out.Reserve(first)) throw std::bad_alloc();
        int64_t got = 0;
        int32_t status;
        {
            py::gil_scoped_release nogil;
            status = Fill(out, got, frames, format, mix);
        }
        if (reader_) reader_->RaiseKept();
        if (status == kNoMemory) throw std::bad_alloc();
        if (status != 0) Raise(status, name_ + ": " + Describe(status) + " (" + std::to_string(status) + ")");
        return format == QUV3_F32 ? out.Release<float>(got, mix ? 1 : channels)
                                  : out.Release<int16_t>(got, mix ? 1 : channels);
    }

    // Moves to sample n and returns the position reached: n, or on an input
    // read forward only, where it ended when that is before n.
    int64_t Seek(int64_t n) {
        Busy busy(*this, name_);
        RequireOpen();
        if (n < 0) throw py::value_error("a position is 0 or more");
        int32_t r;
        {
            py::gil_scoped_release nogil;
            r = quv3_seek_sample(d_, n);
        }
        if (reader_) reader_->RaiseKept();
        if (r == 0) {
            pending_->count = 0;
            ended_ = false;
            parked_.reset();
            return n;
        }
        const bool exact_total = info_.total_kind == QUV3_TOTAL_EXACT || info_.total_kind == QUV3_TOTAL_COUNTED;
        if (r == QUV3_END && exact_total && n == info_.total_samples) {
            // At the end, as a file can be: what follows reads nothing.
            pending_->count = 0;
            ended_ = true;
            parked_ = n;
            return n;
        }
        if (r == QUV3_END)
            Raise(r, name_ + ": cannot seek to sample " + std::to_string(n) + ": the stream ends before it");
        if (r != QUV3_CANNOT_SEEK) Raise(r, name_ + ": " + Describe(r) + " (" + std::to_string(r) + ")");
        // An input read forward only: decoded up to n, the samples dropped.
        const int64_t at = Position();
        if (n < at)
            Raise(r, name_ + ": cannot seek back to sample " + std::to_string(n) + " on an input read forward only (" +
                         std::to_string(r) + ")");
        int32_t status;
        {
            py::gil_scoped_release nogil;
            status = Skip(n - at);
        }
        if (reader_) reader_->RaiseKept();
        if (status != 0) Raise(status, name_ + ": " + Describe(status) + " (" + std::to_string(status) + ")");
        return Position();
    }

    int64_t Tell() {
        Busy busy(*this, name_);
        RequireOpen();
        return Position();
    }

    bool IsOpen() const { return open_; }

    void Close() {
        Busy busy(*this, name_);
        Release();
    }

   private:
    // One call at a time on a decoder: a second thread, or a reader callback
    // calling back into its own decoder, is refused instead of racing it.
    struct Busy {
        Decoder& d;
        Busy(Decoder& decoder, const std::string& name) : d(decoder) {
            if (d.busy_.exchange(true)) Raise(QUV3_BAD_CALL, name + ": the decoder is in use by another call");
        }
        ~Busy() { d.busy_ = false; }
    };

    static uint32_t Flags(bool gapless) { return gapless ? QUV3_OPEN_GAPLESS : 0u; }

    void RequireOpen() const {
        if (!open_) Raise(QUV3_BAD_CALL, name_ + ": the decoder is closed");
    }

    void Opened() {
        quv3_get_info(d_, &info_);
        open_ = true;
        ended_ = false;
        parked_.reset();
        pending_->count = 0;
    }

    // Closes the stream and lets go of the input (GIL held).
    void Release() {
        if (open_) quv3_close(d_);
        open_ = false;
        pending_->count = 0;
        reader_.reset();
        if (has_view_) PyBuffer_Release(&view_);
        has_view_ = false;
    }

    int64_t Position() const { return parked_ ? *parked_ : quv3_tell(d_) - pending_->count; }

    // The pending frame again as floats: the input is moved back to the next
    // sample to deliver, which the library lands on exactly.
    void Redecode() {
        const int64_t at = Position();
        if (!info_.seekable)
            Raise(QUV3_CANNOT_SEEK,
                  name_ + ": float samples after 16-bit ones within a frame need an input that can seek");
        int32_t r;
        {
            py::gil_scoped_release nogil;
            r = quv3_seek_sample(d_, at);
        }
        if (reader_) reader_->RaiseKept();
        if (r != 0) Raise(r, name_ + ": " + Describe(r) + " (" + std::to_string(r) + ")");
        pending_->count = 0;
        ended_ = false;
    }

    // The decode loop, without the GIL. Frames that fit go straight into the
    // output; a frame that would run past the count asked for, or is mixed
    // down, goes through the pending frame.
    int32_t Fill(OutputBuffer& out, int64_t& got, int64_t frames, int32_t format, bool mix) {
        Pending& p = *pending_;
        const int channels = info_.channels;
        const size_t frame_bytes = out.frame_bytes;
        while (frames < 0 || got < frames) {
            if (p.count > 0) {
                const int64_t take = frames < 0 ? p.count : std::min(p.count, frames - got);
                if (!out.Grow(got, take)) return kNoMemory;
                Deliver(p, take, channels, out.data + got * frame_bytes, format, mix);
                got += take;
                continue;
            }
            if (ended_ || (reader_ && reader_->error)) break;
            const bool direct = !mix && (frames < 0 || frames - got >= QUV3_MAX_FRAME_SAMPLES);
            int32_t n = 0, r;
            if (direct) {
                if (!out.Grow(got, QUV3_MAX_FRAME_SAMPLES)) return kNoMemory;
                r = quv3_decode_frame(d_, out.data + got * frame_bytes, format, &n);
                got += n;
            } else {
                p.format = mix ? QUV3_F32 : format;
                r = quv3_decode_frame(d_, p.values, p.format, &n);
                p.offset = 0;
                p.count = n;
            }
            if (r == QUV3_END)
                ended_ = true;
            else if (r != 0)
                return r;
        }
        return 0;
    }

    // Decodes and drops n samples per channel; what is left of the last
    // frame stays pending as floats, which serve either output format.
    int32_t Skip(int64_t n) {
        Pending& p = *pending_;
        while (n > 0) {
            if (p.count > 0) {
                const int64_t drop = std::min(p.count, n);
                p.offset += drop;
                p.count -= drop;
                n -= drop;
                continue;
            }
            if (ended_ || (reader_ && reader_->error)) break;
            int32_t k = 0;
            p.format = QUV3_F32;
            const int32_t r = quv3_decode_frame(d_, p.values, QUV3_F32, &k);
            p.offset = 0;
            p.count = k;
            if (r == QUV3_END)
                ended_ = true;
            else if (r != 0)
                return r;
        }
        return 0;
    }

    std::unique_ptr<unsigned char[]> memory_;
    quv3_decoder* d_ = nullptr;
    std::unique_ptr<Pending> pending_;
    std::unique_ptr<FileReader> reader_;
    Py_buffer view_{};
    bool has_view_ = false;
    bool open_ = false;
    bool ended_ = false;             // the library said QUV3_END
    std::optional<int64_t> parked_;  // seeked to the very end
    quv3_info info_{};
    std::string name_ = "quv3";
    std::atomic<bool> busy_{false};
};

// ------------------------------------------------------------ conversions

py::array_t<int16_t> FloatToS16(const py::array_t<float, py::array::c_style | py::array::forcecast>& in) {
    std::vector<py::ssize_t> shape(in.shape(), in.shape() + in.ndim());
    py::array_t<int16_t> out(shape);
    const float* s = in.data();
    int16_t* o = out.mutable_data();
    const py::ssize_t n = in.size();
    {
        py::gil_scoped_release nogil;
        for (py::ssize_t k = 0; k < n; ++k) o[k] = quv3_f32_to_s16(s[k]);
    }
    return out;
}

#if defined(QUV3_PY_SOXR)
// libsoxr, loaded when first asked for: the package imports and decodes on
// a system without it, and only resampling needs it.
struct Soxr {
    decltype(&soxr_create) create = nullptr;
    decltype(&soxr_process) process = nullptr;
    decltype(&soxr_delete) destroy = nullptr;
    decltype(&soxr_io_spec) io_spec = nullptr;
    decltype(&soxr_quality_spec) quality_spec = nullptr;
};

const Soxr* LoadSoxr() {
    static const Soxr soxr = [] {
        Soxr s;
#if defined(_WIN32)
        HMODULE lib = LoadLibraryA("soxr.dll");
        auto find = [&](const char* name) {
            return lib ? reinterpret_cast<void*>(GetProcAddress(lib, name)) : nullptr;
        };
#else
        void* lib = dlopen("libsoxr.so.0", RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr) lib = dlopen("libsoxr.0.dylib", RTLD_NOW | RTLD_LOCAL);
        auto find = [&](const char* name) { return lib ? dlsym(lib, name) : nullptr; };
#endif
        s.create = reinterpret_cast<decltype(s.create)>(find("soxr_create"));
        s.process = reinterpret_cast<decltype(s.process)>(find("soxr_process"));
        s.destroy = reinterpret_cast<decltype(s.destroy)>(find("soxr_delete"));
        s.io_spec = reinterpret_cast<decltype(s.io_spec)>(find("soxr_io_spec"));
        s.quality_spec = reinterpret_cast<decltype(s.quality_spec)>(find("soxr_quality_spec"));
        return s;
    }();
    const bool complete = soxr.create && soxr.process && soxr.destroy && soxr.io_spec && soxr.quality_spec;
    return complete ? &soxr : nullptr;
}
#endif

// The (n, channels) floats at from_rate resampled to to_rate with libsoxr's
// very high quality, as quvdec --rate does; the filter's tail flushed. Fed
// in pieces, as quvdec feeds it: libsoxr keeps what it is given in buffers
// of its own, which for a whole stream at once come to several times the
// output's size.
py::array Resample(const py::array_t<float, py::array::c_style | py::array::forcecast>& in, double from_rate,
                   double to_rate) {
#if defined(QUV3_PY_SOXR)
    if (in.ndim() != 2 || in.shape(1) < 1) throw py::value_error("resample takes a (frames, channels) array");
    if (!(from_rate > 0) || !(to_rate > 0)) throw py::value_error("sample rates are positive");
    const Soxr* soxr = LoadSoxr();
    if (soxr == nullptr) Raise(QUV3_BAD_CALL, "resampling needs libsoxr (libsoxr.so.0), which cannot be loaded");
    const auto channels = static_cast<unsigned>(in.shape(1));
    const size_t frames = static_cast<size_t>(in.shape(0));
    const float* s = in.data();
    constexpr size_t kPiece = size_t{1} << 16, kSlack = 4096;  // input frames a call; output room beyond the ratio
    const double ratio = to_rate / from_rate;
    OutputBuffer out;
    out.frame_bytes = channels * sizeof(float);
    size_t made_total = 0;
    bool no_memory = false;
    soxr_error_t error = nullptr;
    {
        py::gil_scoped_release nogil;
        const soxr_io_spec_t io = soxr->io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t quality = soxr->quality_spec(SOXR_VHQ, 0);
        soxr_t r = soxr->create(from_rate, to_rate, channels, &error, &io, &quality, nullptr);
        // The whole output and the tail's room at once: the buffer then
        // never grows (and copies) on the way.
        no_memory = !out.Reserve(static_cast<int64_t>(static_cast<double>(frames) * ratio) + 2 * kSlack);
        for (size_t used_total = 0; r != nullptr && error == nullptr && !no_memory;) {
            const bool flushing = used_total >= frames;
            const size_t take = flushing ? 0 : std::min(kPiece, frames - used_total);
            const size_t room = static_cast<size_t>(static_cast<double>(take) * ratio) + kSlack;
            if (!out.Grow(static_cast<int64_t>(made_total), static_cast<int64_t>(room))) {
                no_memory = true;
                break;
            }
            size_t used = 0, made = 0;
            error = soxr->process(r, flushing ? nullptr : s + used_total * channels, take, &used,
                                  reinterpret_cast<float*>(out.data) + made_total * channels, room, &made);
            used_total += used;
            made_total += made;
            if (flushing && made < room) break;  // the tail is out
        }
        if (r != nullptr) soxr->destroy(r);
    }
    if (error != nullptr) Raise(QUV3_BAD_CALL, std::string("cannot resample: ") + error);
    if (no_memory) throw std::bad_alloc();
    return out.Release<float>(static_cast<int64_t>(made_total), static_cast<int>(channels));
#else
    (void)in, (void)from_rate, (void)to_rate;
    Raise(QUV3_BAD_CALL, "resampling is not available: this build of quv3 has no libsoxr");
#endif
}

}  // namespace

PYBIND11_MODULE(_quv3, m) {
    m.doc() = "The compiled core of quv3: decoders over the re-entrant library. Use the quv3 package.";
    m.attr("S16") = QUV3_S16;
    m.attr("F32") = QUV3_F32;
    m.attr("TOTAL_UNKNOWN") = QUV3_TOTAL_UNKNOWN;
    m.attr("TOTAL_EXACT") = QUV3_TOTAL_EXACT;
    m.attr("TOTAL_COUNTED") = QUV3_TOTAL_COUNTED;
    m.attr("TOTAL_ESTIMATED") = QUV3_TOTAL_ESTIMATED;
    m.attr("MAX_FRAME_SAMPLES") = QUV3_MAX_FRAME_SAMPLES;
#if defined(QUV3_PY_SOXR)
    m.attr("HAS_SOXR") = true;
#else
    m.attr("HAS_SOXR") = false;
#endif
    m.def("_set_error_class", [](py::object cls) {
        Py_XDECREF(g_error_class);
        g_error_class = cls.release().ptr();
    });
    m.def("f32_to_s16", &FloatToS16, "Floats to 16-bit samples by the library's rule.");
    m.def("resample", &Resample, py::arg("data"), py::arg("from_rate"), py::arg("to_rate"));
    py::class_<Decoder>(m, "Decoder")
        .def(py::init<>())
        .def("open_path", &Decoder::OpenPath)
        .def("open_buffer", &Decoder::OpenBuffer)
        .def("open_file", &Decoder::OpenFile)
        .def("info", &Decoder::Info)
        .def("tags", &Decoder::Tags)
        .def("damage", &Decoder::Damage)
        .def("read", &Decoder::Read)
        .def("seek", &Decoder::Seek)
        .def("tell", &Decoder::Tell)
        .def("close", &Decoder::Close)
        .def_property_readonly("is_open", &Decoder::IsOpen);
}
