#pragma once

#include <cstdint>
#include <utility>

// The portable vector type the kernels are written in: N values of T side by
// side (GCC and Clang vector extensions). Arithmetic, comparisons (lanes of -1
// or 0), ?: per lane, shuffles and conversions work on it on every target; a
// vector of one value is plain scalar code. What such a type cannot say (table
// gathers, rounding to integers, fused multiply-adds) each instruction-set
// level supplies in its own header, simd_<level>.h.
//
// Each level's kernels are compiled in their own file with that level's
// instruction set; everything here and in the kernel bodies has internal
// linkage, so no function compiled for one level can stand in for another's.
namespace quv3 {
namespace {

template <class T, int N>
struct VecOf {
    typedef T type __attribute__((vector_size(sizeof(T) * N)));
};
template <class T, int N>
using Vec = typename VecOf<T, N>::type;

template <class V>
inline constexpr int kLanesOf = sizeof(V) / sizeof(V{}[0]);

// Loads and stores of whole vectors at any alignment.
template <class V, class T>
__attribute__((always_inline)) inline V LoadVec(const T* from) {
    V v;
    __builtin_memcpy(&v, from, sizeof v);
    return v;
}

template <class V, class T>
__attribute__((always_inline)) inline void StoreVec(T* to, const V& v) {
    __builtin_memcpy(to, &v, sizeof v);
}

// Table lookups one lane at a time, for levels without a gather instruction.
// The indices go through memory, where each is one load away; the values are
// put together in registers.
template <int N, int... L>
__attribute__((always_inline)) inline Vec<float, N> GatherLanes(const float* table, Vec<int32_t, N> index,
                                                                std::integer_sequence<int, L...>) {
    uint32_t at[N];  // unsigned: the indices are not negative, and need no sign extension
    __builtin_memcpy(at, &index, sizeof at);
    return Vec<float, N>{table[at[L]]...};
}

template <int N>
__attribute__((always_inline)) inline Vec<float, N> GatherLanes(const float* table, Vec<int32_t, N> index) {
    return GatherLanes<N>(table, index, std::make_integer_sequence<int, N>{});
}

}  // namespace
}  // namespace quv3
