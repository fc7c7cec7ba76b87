#include "tests/support/pcm_compare.h"

#include <dirent.h>
#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "decoder/api/quv3.h"
#include "decoder/api/decoder.h"

namespace quv3::test {

std::map<std::string, std::string> TestStreams(const std::string& fixtures, const std::string& iso) {
    std::map<std::string, std::string> paths;
    auto add = [&paths](const std::string& dir, const std::string& ext, const std::string& key) {
        DIR* d = opendir(dir.c_str());
        if (d == nullptr) return;
        while (dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > ext.size() && n.compare(n.size() - ext.size(), ext.size(), ext) == 0)
                paths[key + n] = dir + "/" + n;
        }
        closedir(d);
    };
    add(fixtures, ".mp3", "fixture/");
    add(iso, ".bit", "iso/");
    return paths;
}

size_t WrittenSamples(const int16_t* buffer, size_t capacity) {
    size_t n = capacity;
    while (n > 0 && buffer[n - 1] == kSentinel) --n;
    return n;
}

Decoded DecodeWithQuv(const std::string& path, int max_calls) {
    Decoded d;
    StreamInfo* info = nullptr;
    d.init_result = InitQuv(path.c_str(), &info);
    if (d.init_result != 0) return d;
    d.version = info->version;
    d.channels = info->channels;
    d.sample_rate = info->sample_rate;
    d.samples_per_frame = info->samples_per_frame;
    int16_t buf[QUV3_PCM_BUFFER_BYTES / 2];
    for (int call = 0, r = 0; r == 0 && call < max_calls; ++call) {
        std::fill(std::begin(buf), std::end(buf), kSentinel);
        r = Quv(buf);
        const size_t n = WrittenSamples(buf, std::size(buf));
        if (n == 0) {
            ++d.frames_skipped;
            continue;
        }
        ++d.frames_written;
        d.pcm.insert(d.pcm.end(), buf, buf + n);
    }
    ExitQuv();
    return d;
}

OwnedDecoder::OwnedDecoder() : memory(quv3_decoder_size() + quv3_decoder_alignment()) {
    void* at = memory.data();
    size_t space = memory.size();
    d = quv3_decoder_init(std::align(quv3_decoder_alignment(), quv3_decoder_size(), at, space), quv3_decoder_size());
}

OwnedDecoder::~OwnedDecoder() { quv3_close(d); }

Decoded DecodeWithDecoderApi(const std::string& path, const Kernels* kernels) {
    Decoded d;
    OwnedDecoder owned;
    quv3_decoder* dec = owned.d;
    if (dec == nullptr) {
        d.init_result = QUV3_BAD_CALL;
        return d;
    }
    if (kernels != nullptr) dec->kernels = kernels;
    d.init_result = quv3_open_file(dec, path.c_str(), 0);
    if (d.init_result != 0) return d;
    quv3_info info{};
    quv3_get_info(dec, &info);
    d.version = info.version;
    d.channels = info.channels;
    d.sample_rate = info.sample_rate;
    d.samples_per_frame = info.samples_per_frame;
    int16_t buf[QUV3_MAX_FRAME_VALUES];
    for (int32_t r = 0; r == 0;) {
        int32_t n = 0;
        r = quv3_decode_frame(dec, buf, QUV3_S16, &n);
        if (n == 0) {
            ++d.frames_skipped;
            continue;
        }
        ++d.frames_written;
        d.pcm.insert(d.pcm.end(), buf, buf + static_cast<size_t>(n) * static_cast<size_t>(d.channels));
    }
    return d;
}

Comparison Compare(const Pcm& a, const Pcm& b, size_t offset_a, size_t offset_b) {
    Comparison c;
    if (offset_a >= a.size() || offset_b >= b.size()) return c;
    const size_t n = std::min(a.size() - offset_a, b.size() - offset_b);
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = a[offset_a + i] - b[offset_b + i];
        se += static_cast<double>(d) * d;
        c.max_diff = std::max(c.max_diff, std::abs(d));
    }
    c.samples = n;
    c.psnr = se == 0 ? 999.0 : 10.0 * std::log10(32767.0 * 32767.0 * n / se);
    return c;
}

PeerDecoded DecodeWithMpg123(const std::string& path, bool gapless) {
    PeerDecoded p;
#if MPG123_API_VERSION < 46
    mpg123_init();
#endif
    int err = 0;
    mpg123_handle* h = mpg123_new(nullptr, &err);
    if (!h) return p;
    mpg123_param(h, gapless ? MPG123_ADD_FLAGS : MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_format_none(h);
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(h, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    if (mpg123_open(h, path.c_str()) != MPG123_OK) {
        mpg123_delete(h);
        return p;
    }
    int enc = 0;
    mpg123_getformat(h, &p.rate, &p.channels, &enc);
    unsigned char buf[16384];
    for (;;) {
        size_t done = 0;
        const int r = mpg123_read(h, buf, sizeof buf, &done);
        const int16_t* s = reinterpret_cast<const int16_t*>(buf);
        p.pcm.insert(p.pcm.end(), s, s + done / 2);
        if (r == MPG123_NEW_FORMAT) {
            mpg123_getformat(h, &p.rate, &p.channels, &enc);
            continue;
        }
        if (r != MPG123_OK) break;
    }
    mpg123_close(h);
    mpg123_delete(h);
    p.ok = true;
    return p;
}

}  // namespace quv3::test
