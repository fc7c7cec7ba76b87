#pragma once

#include <cstdint>

// The vector kernels of the decoding stages, one table per instruction-set
// level; every level gives the same samples. Each level is compiled from the
// same source (kernel_body.h) in its own file with that level's instruction
// set (kernels_<level>.cpp); the first InitQuv picks the highest level the
// processor runs (kernels.cpp).
namespace quv3 {

struct SynthesisRing;

inline constexpr int kOverlapOnly = 4;

struct Kernels {
    const char* name;
    // Subbands per inverse transform, slots per DCT: 1, 4 or 8.
    int32_t lanes;
    // q^(4/3) x gain per line with the sign of q, +0.0 where q is 0: lines
    // 0 .. n-1, n a multiple of 16.
    void (*dequantize_lines)(const int32_t* q, const float* gains, float* out, int32_t n);
    // Mid/side of lines begin .. end-1, in double precision.
    void (*mid_side_lines)(float* left, float* right, int32_t begin, int32_t end);
    // The windowed IMDCT with overlap-add of subbands first .. first + lanes - 1
    // (those whose bit is set in mask): their lines 18 apart, their overlap
    // values 8 apart, their output rows 18 apart. Block type kOverlapOnly:
    // their lines are all zero, so the output is the overlap alone (odd samples
    // of odd subbands negated) and the new overlap is zero; lines is not read.
    void (*transform_subbands)(const float* lines, const float* window, int block_type, float* overlap, float* rows,
                               int first, uint32_t mask);
    // One channel's 18 slots into the granule's PCM buffer: pcm gets the mono
    // run, or with left (the left channel's run) the interleaved pairs of both.
    // Subbands from rows (8, 16 or 32) on are zero and not read. 16-bit
    // samples: each windowing sum clipped to -32767..32767 and rounded to the
    // nearest integer, ties to even.
    void (*synthesize_granule)(const float (*subbands)[18], int rows, SynthesisRing& ring, int16_t* pcm,
                               const int16_t* left);
    // The same from the same windowing sums, as floats on a scale where 1.0 is
    // 32767, not clipped: each the sum over 32767, nudged by at most one float
    // step so that 32767 times it, clipped and rounded as above, gives the
    // 16-bit sample; zero as +0.0.
    void (*synthesize_granule_float)(const float (*subbands)[18], int rows, SynthesisRing& ring, float* pcm,
                                     const float* left);
};

// The levels this build has, lowest first; level 0 is the plain level.
int32_t KernelLevelCount();
const Kernels& KernelsAt(int32_t level);
// The highest level this processor runs.
int32_t CpuKernelLevel();

}  // namespace quv3
