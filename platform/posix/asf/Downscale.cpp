#include "platform/posix/asf/Downscale.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TW_DOWNSCALE 1
#else
#define TW_DOWNSCALE 0
#endif

namespace tw::posix::asf::recorder {

namespace {

constexpr int kColumnOne = 256;    // the column taps' sum: 16-bit sums of 8-bit samples
constexpr int kRowOne = 1 << 14;   // the row taps' sum: 16 x 14 bits fit a 32-bit sum
constexpr int kMaxTaps = 16;        // across: two registers of eight
constexpr int kMaxColumnTaps = 32;  // down: any number, but the weights grow coarse
constexpr int kShift = 8 + 14;

// The taps for shrinking `src` samples into `dst`, weights summing to `one`, each output's
// taps padded with zero weights to a multiple of `align`. Empty when dst > src or there would
// be more than `max_taps`.
Downscaler::Axis downscale_axis(int src, int dst, int one, int align, int max_taps) {
    Downscaler::Axis a;
    if (dst <= 0 || src < dst) return a;
    const double r = double(src) / dst;
    // Output i's centre lies at (i + 0.5) * r - 0.5 in the source; the triangle reaches r
    // either side of it, so at most 2r samples (rounded up) lie strictly inside, where the
    // weights are not zero.
    int taps = std::min(src, int(std::ceil(2 * r)));
    if (taps > max_taps) return a;
    a.taps = taps;
    a.stride = (taps + align - 1) / align * align;
    a.first.resize(size_t(dst));
    a.weight.assign(size_t(dst) * a.stride, 0);
    std::vector<double> w(static_cast<size_t>(taps));
    for (int i = 0; i < dst; ++i) {
        const double c = (i + 0.5) * r - 0.5;
        const int lo = int(std::floor(c - r)) + 1, hi = int(std::ceil(c + r)) - 1;
        // The window stays inside the source; samples beyond an edge fold onto it.
        const int first = std::clamp(std::clamp(lo, 0, src - 1), 0, src - taps);
        a.first[size_t(i)] = first;
        std::fill(w.begin(), w.end(), 0.0);
        double total = 0;
        for (int k = lo; k <= hi; ++k) {
            double v = 1 - std::abs(k - c) / r;
            if (v <= 0) continue;
            int at = std::clamp(std::clamp(k, 0, src - 1) - first, 0, taps - 1);
            w[size_t(at)] += v;
            total += v;
        }
        // Rounded to integers that sum to exactly `one`: what rounding leaves over goes to
        // the heaviest tap.
        int16_t *out = &a.weight[size_t(i) * a.stride];
        int sum = 0, heaviest = 0;
        for (int t = 0; t < taps; ++t) {
            out[t] = int16_t(std::lround(w[size_t(t)] / total * one));
            sum += out[t];
            if (out[t] > out[heaviest]) heaviest = t;
        }
        out[heaviest] = int16_t(out[heaviest] + one - sum);
    }
    return a;
}

#if TW_DOWNSCALE
// Outputs i and i + 1: four sums of tap pairs each, in the low and the high half.
template <int Chunks>
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i two_taps(const uint16_t *acc, const int32_t *first,
                                                                    const int16_t *weight, int i) {
    const int16_t *wt = weight + size_t(i) * (8 * Chunks);
    const uint16_t *a0 = acc + first[i], *a1 = acc + first[i + 1];
    if constexpr (Chunks == 1) {
        return _mm256_madd_epi16(_mm256_loadu2_m128i((const __m128i *)a1, (const __m128i *)a0),
                                 _mm256_loadu_si256((const __m256i *)wt));
    } else {
        // Output i's taps are wt[0..15], i + 1's wt[16..31].
        __m256i lo = _mm256_loadu2_m128i((const __m128i *)a1, (const __m128i *)a0);
        __m256i hi = _mm256_loadu2_m128i((const __m128i *)(a1 + 8), (const __m128i *)(a0 + 8));
        __m256i w0 = _mm256_loadu_si256((const __m256i *)wt), w1 = _mm256_loadu_si256((const __m256i *)(wt + 16));
        __m256i wlo = _mm256_permute2x128_si256(w0, w1, 0x20), whi = _mm256_permute2x128_si256(w0, w1, 0x31);
        return _mm256_add_epi32(_mm256_madd_epi16(lo, wlo), _mm256_madd_epi16(hi, whi));
    }
}

// The rows' taps, eight outputs at a time, two to a register: each output's eight (or
// sixteen) sums are read at once from where its taps start and multiplied pairwise with its
// weights. The sums, 0 to 65280, have been made signed by subtracting 32768 (flipping the top
// bit), which the weights' known total gives back.
template <int Chunks>
[[gnu::target("avx2")]] void row_taps(const uint16_t *acc, int w, const Downscaler::Axis &ha, uint8_t *out) {
    const __m256i back = _mm256_set1_epi32(32768 * kRowOne + (1 << (kShift - 1)));
    const int32_t *first = ha.first.data();
    const int16_t *weight = ha.weight.data();
    int i = 0;
    for (; i + 8 <= w; i += 8) {
        // [0 0 2 2 | 1 1 3 3] and [4 4 6 6 | 5 5 7 7] summed pairwise, then [0 2 4 6 | 1 3 5 7].
        const __m256i t0 = two_taps<Chunks>(acc, first, weight, i);
        const __m256i t2 = two_taps<Chunks>(acc, first, weight, i + 2);
        const __m256i t4 = two_taps<Chunks>(acc, first, weight, i + 4);
        const __m256i t6 = two_taps<Chunks>(acc, first, weight, i + 6);
        __m256i s = _mm256_hadd_epi32(_mm256_hadd_epi32(t0, t2), _mm256_hadd_epi32(t4, t6));
        s = _mm256_srai_epi32(_mm256_add_epi32(s, back), kShift);
        s = _mm256_packs_epi32(s, s);
        s = _mm256_packus_epi16(s, s);
        __m128i v = _mm_unpacklo_epi8(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
        _mm_storel_epi64((__m128i *)(out + i), v);
    }
    for (; i < w; ++i) {
        const int16_t *wt = weight + size_t(i) * (8 * Chunks);
        const uint16_t *a = acc + first[i];
        int32_t sum = 0;
        for (int t = 0; t < 8 * Chunks; ++t) sum += int32_t(wt[t]) * int16_t(a[t]);
        out[i] = uint8_t(std::clamp((sum + 32768 * kRowOne + (1 << (kShift - 1))) >> kShift, 0, 255));
    }
}

// Per output row: the column sums of its source rows, taken one row at a time over the whole
// width (the loop the compiler vectorises; a source row is read again by the next output row
// while it is still in the cache), then filtered across.
[[gnu::target("avx2")]] void scale_avx2(const uint8_t *src, ptrdiff_t ss, int W, int w, int h,
                                        const Downscaler::Axis &ha, const Downscaler::Axis &va, uint16_t *sums,
                                        uint8_t *dst, ptrdiff_t ds) {
    for (int j = 0; j < h; ++j) {
        const int16_t *wt = &va.weight[size_t(j) * va.stride];
        const uint8_t *r = src + ss * va.first[size_t(j)];
        const uint16_t w0 = uint16_t(wt[0]);
        for (int x = 0; x < W; ++x) sums[x] = uint16_t(w0 * r[x]);
        for (int t = 1; t < va.taps; ++t) {
            r += ss;
            const uint16_t wv = uint16_t(wt[t]);
            for (int x = 0; x < W; ++x) sums[x] = uint16_t(sums[x] + wv * r[x]);
        }
        for (int x = 0; x < W; ++x) sums[x] ^= 0x8000;
        if (ha.stride == 8)
            row_taps<1>(sums, w, ha, dst + ds * j);
        else
            row_taps<2>(sums, w, ha, dst + ds * j);
    }
}
#endif

}  // namespace

bool Downscaler::init(int src_w, int src_h, int dst_w, int dst_h) {
    h_ = v_ = Axis{};
#if TW_DOWNSCALE
    // Written for AVX2; without it swscale is the faster of the two.
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (!avx2) return false;
#else
    return false;
#endif
    // Any shrink: even at 5:3 or 1.2:1 this takes 0.6 to 0.85 of swscale's time. The same
    // size is left to swscale, which copies it.
    if (dst_w <= 0 || dst_h <= 0 || src_w < dst_w || src_h < dst_h || (src_w == dst_w && src_h == dst_h))
        return false;
    h_ = downscale_axis(src_w, dst_w, kRowOne, 8, kMaxTaps);
    v_ = downscale_axis(src_h, dst_h, kColumnOne, 1, kMaxColumnTaps);
    if (!h_.taps || !v_.taps) return false;
    src_w_ = src_w;
    dst_w_ = dst_w;
    dst_h_ = dst_h;
    // The row taps read a whole multiple of eight sums from where an output's taps start.
    sums_.assign(size_t(src_w) + kMaxTaps, 0);
    return true;
}

void Downscaler::scale(const uint8_t *src, ptrdiff_t ss, uint8_t *dst, ptrdiff_t ds) {
#if TW_DOWNSCALE
    if (h_.taps) scale_avx2(src, ss, src_w_, dst_w_, dst_h_, h_, v_, sums_.data(), dst, ds);
#endif
}

}  // namespace tw::posix::asf::recorder
