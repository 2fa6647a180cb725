// Shrinking an 8-bit plane by any ratio each way (1920x1080 or 1280x720 into 768x432 for a
// PAL profile, 640x480 into 176x132), where no whole factor fits. It weighs the source as
// swscale's bilinear scaler does when it shrinks: a triangle as wide as twice the ratio,
// centred where the output sample's centre falls in the source, with the picture's edge
// samples repeated beyond it. Columns first, so only the output's rows are filtered across
// (swscale filters every source row across, then the columns): two thirds of swscale's time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::posix::asf::recorder {

class Downscaler {
public:
    // False when either side grows, a ratio is beyond what the filter takes (above about 8
    // across, 16 down) or the processor lacks AVX2.
    bool init(int src_w, int src_h, int dst_w, int dst_h);
    // `src` (rows `src_stride` bytes apart; negative for bottom-up) into `dst`.
    void scale(const uint8_t *src, ptrdiff_t src_stride, uint8_t *dst, ptrdiff_t dst_stride);

    // The taps of one direction: output i takes source samples first[i] to
    // first[i] + taps - 1, weighted weight[i * stride .. + taps - 1] (zero past taps).
    struct Axis {
        int taps = 0, stride = 0;
        std::vector<int32_t> first;
        std::vector<int16_t> weight;
    };

private:
    int src_w_ = 0, dst_w_ = 0, dst_h_ = 0;
    Axis h_, v_;
    std::vector<uint16_t> sums_;  // one output row's column sums, and room to read past them
};

}  // namespace tw::posix::asf::recorder
