#include "platform/posix/asf/Shrink.h"

#include <algorithm>
#include <array>

namespace tw::posix::asf::recorder {

namespace {

// The taps of a shrink by K: output sample j is centred on source position K*j + (K-1)/2 and
// takes source sample K*j + d with weight 2K - |2d - K + 1| (in half-sample units), which is
// [1 3 3 1] for 2, [1 2 3 2 1] (doubled) for 3, [1 3 5 7 7 5 3 1] for 4. They sum to 2K^2.
template <int K>
struct Taps {
    static constexpr int first = -(K / 2);
    static constexpr int count = (3 * K - 2) / 2 - first + 1;
    static constexpr uint32_t sum = 2 * K * K;
    static constexpr std::array<uint16_t, count> weight = [] {
        std::array<uint16_t, count> w{};
        for (int t = 0; t < count; ++t) {
            int e = 2 * (first + t) - K + 1;
            w[t] = uint16_t(2 * K - (e < 0 ? -e : e));
        }
        return w;
    }();
};

// The column sums have this many samples of room on either side (at least the largest factor),
// where the edge samples are repeated for the rows' taps; the filtered row follows them.
constexpr int kSlack = 16;

// Columns first, into 16-bit sums of a whole source row (at most 2K^2 * 255, 32640 for 8),
// then rows from those sums, rounded once. Edge samples repeat beyond the picture. The column
// sums take one source row at a time, so the source is read as a single stream from the front
// (it comes from the decoder cold, through another core's cache, and several rows read side by
// side made the loads wait: a third slower on 1920x1080), while the sums stay in the cache.
template <int K>
[[gnu::always_inline]] inline void shrink(const uint8_t *src, ptrdiff_t ss, int W, int H, uint8_t *dst, ptrdiff_t ds,
                                          uint16_t *acc) {
    using T = Taps<K>;
    constexpr uint32_t total = T::sum * T::sum;
    const int w = W / K, h = H / K;
    for (int j = 0; j < h; ++j) {
        auto row = [&](int t) { return src + ss * std::clamp(K * j + T::first + t, 0, H - 1); };
        const uint8_t *r = row(0);
        for (int x = 0; x < W; ++x) acc[x] = uint16_t(T::weight[0] * r[x]);
        for (int t = 1; t < T::count; ++t) {
            r = row(t);
            for (int x = 0; x < W; ++x) acc[x] = uint16_t(acc[x] + T::weight[t] * r[x]);
        }
        for (int p = 1; p <= K; ++p) {
            acc[-p] = acc[0];
            acc[W - 1 + p] = acc[W - 1];
        }
        uint8_t *out = dst + ds * j;
        if constexpr (K <= 3) {
            // Up to 3 the rows' taps fit 16 bits (halved for 3, whose weights are all even), so
            // the whole row is filtered in one contiguous pass, 16 samples at a time, and every
            // Kth sum is taken: a fifth less time on 1920x1080 than taps gathered K apart.
            constexpr uint16_t half = K % 2 ? 2 : 1;
            constexpr uint32_t div = total / half;
            const uint16_t *a = acc + T::first;
            uint16_t *sums = acc + W + kSlack;
            for (int x = 0; x < W; ++x) {
                uint16_t v = 0;
                for (int t = 0; t < T::count; ++t) v = uint16_t(v + T::weight[t] / half * a[x + t]);
                sums[x] = v;
            }
            for (int i = 0; i < w; ++i) out[i] = uint8_t((sums[K * i] + div / 2) / div);
        } else {
            for (int i = 0; i < w; ++i) {
                const uint16_t *a = acc + K * i + T::first;
                uint32_t s = 0;
                for (int t = 0; t < T::count; ++t) s += uint32_t(T::weight[t]) * a[t];
                out[i] = uint8_t((s + total / 2) / total);
            }
        }
    }
}

[[gnu::always_inline]] inline void shrink_by(int k, const uint8_t *src, ptrdiff_t ss, int W, int H, uint8_t *dst,
                                              ptrdiff_t ds, uint16_t *acc) {
    switch (k) {
    case 2: shrink<2>(src, ss, W, H, dst, ds, acc); break;
    case 3: shrink<3>(src, ss, W, H, dst, ds, acc); break;
    case 4: shrink<4>(src, ss, W, H, dst, ds, acc); break;
    case 5: shrink<5>(src, ss, W, H, dst, ds, acc); break;
    case 6: shrink<6>(src, ss, W, H, dst, ds, acc); break;
    case 7: shrink<7>(src, ss, W, H, dst, ds, acc); break;
    case 8: shrink<8>(src, ss, W, H, dst, ds, acc); break;
    default: break;
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Built a second time for AVX2 and picked by a plain test of the processor rather than by the
// loader (an ifunc resolver runs before the thread sanitizer is ready).
[[gnu::target("avx2")]] void shrink_avx2(int k, const uint8_t *src, ptrdiff_t ss, int W, int H, uint8_t *dst,
                                         ptrdiff_t ds, uint16_t *acc) {
    shrink_by(k, src, ss, W, H, dst, ds, acc);
}
#endif

void shrink_any(int k, const uint8_t *src, ptrdiff_t ss, int W, int H, uint8_t *dst, ptrdiff_t ds, uint16_t *acc) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return shrink_avx2(k, src, ss, W, H, dst, ds, acc);
#endif
    shrink_by(k, src, ss, W, H, dst, ds, acc);
}

}  // namespace

bool shrink_plane(int factor, const uint8_t *src, ptrdiff_t src_stride, int src_w, int src_h, uint8_t *dst,
                  ptrdiff_t dst_stride, std::vector<uint16_t> &scratch) {
    if (!shrink_factor_supported(factor) || !src || !dst || src_w < factor || src_h < factor || src_w % factor ||
        src_h % factor)
        return false;
    scratch.resize(2 * size_t(src_w) + 3 * kSlack);
    shrink_any(factor, src, src_stride, src_w, src_h, dst, dst_stride, scratch.data() + kSlack);
    return true;
}

}  // namespace tw::posix::asf::recorder
