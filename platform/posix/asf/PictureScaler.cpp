#include "platform/posix/asf/PictureScaler.h"
#include "platform/posix/asf/Downscale.h"
#include "platform/posix/asf/Shrink.h"

#include "platform/posix/ffmpeg/PixelFormats.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/mathematics.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace tw::posix::asf::recorder {

PictureScaler::PictureScaler(const VideoFormat &in, int width, int height) : in_(in), width_(width), height_(height) {}

bool PictureScaler::setup(int format, bool full_range) {
    format = ffmpeg::plain_format(AVPixelFormat(format), &full_range);
    if ((sws_ || shrink_ || downscale_) && format == sws_format_ && full_range == sws_full_range_) return true;
    int sw = width_, sh = height_;
    // Fit the picture into the frame with its aspect kept; the rest is black border. The
    // fitted side is the nearest even number (4:2:0): 854x480 into 320x240 is 320x180, where
    // cutting off the fraction made it 178 and squeezed the picture by 1%.
    if (int64_t(in_.width) * height_ > int64_t(width_) * in_.height)
        sh = int(av_rescale(width_, in_.height, 2 * int64_t(in_.width))) * 2;
    else
        sw = int(av_rescale(height_, in_.width, 2 * int64_t(in_.height))) * 2;
    sw = std::clamp(sw, 2, std::max(2, width_ & ~1));
    sh = std::clamp(sh, 2, std::max(2, height_ & ~1));
    x_ = ((width_ - sw) / 2) & ~1;
    y_ = ((height_ - sh) / 2) & ~1;
    sw_ = sw;
    sh_ = sh;
    sws_format_ = format;
    sws_full_range_ = full_range;
    // Video-range 4:2:0 shrinking by a whole factor both ways needs no format conversion.
    shrink_ = 0;
    downscale_ = false;
    sws_.reset();
    int factor = in_.width / sw;
    if (format == AV_PIX_FMT_YUV420P && !full_range && factor * sw == in_.width && factor * sh == in_.height &&
        shrink_factor_supported(factor)) {
        shrink_ = factor;
        return true;
    }
    // Shrinking, but not by a whole factor: our own filter, the same as swscale's to within a
    // step, in 0.4 to 0.9 of its time.
    if (format == AV_PIX_FMT_YUV420P && !full_range && luma_.init(in_.width, in_.height, sw, sh) &&
        chroma_.init((in_.width + 1) / 2, (in_.height + 1) / 2, sw / 2, sh / 2)) {
        downscale_ = true;
        return true;
    }
    // Bilinear: when shrinking, swscale widens the filter to the scale factor, so it averages
    // without aliasing; bicubic's sharper result costs twice the taps and, at the profiles'
    // bit rates, more bits for detail the encoder then blurs anyway (the encoded output's SSIM
    // against a bicubic reference came out equal or higher with bilinear).
    sws_.reset(sws_getContext(in_.width, in_.height, AVPixelFormat(format), sw, sh, AV_PIX_FMT_YUV420P, SWS_BILINEAR,
                              nullptr, nullptr, nullptr));
    if (!sws_) return false;
    if (full_range) ffmpeg::set_ranges(sws_.get(), true, false);  // the encoder takes video range
    return true;
}

bool PictureScaler::planes_of(const VideoFormat &in, const uint8_t *d, Planes *out) {
    *out = Planes{};
    const int w = in.width, h = in.height;
    switch (in.pix_fmt) {
    case AV_PIX_FMT_BGR0:
    case AV_PIX_FMT_BGRA:
    case AV_PIX_FMT_BGR24:
    case AV_PIX_FMT_YUYV422: {
        int bpp = in.pix_fmt == AV_PIX_FMT_BGR24 ? 3 : in.pix_fmt == AV_PIX_FMT_YUYV422 ? 2 : 4;
        int stride = in.stride ? in.stride : (in.pix_fmt == AV_PIX_FMT_BGR24 ? (w * 3 + 3) & ~3 : w * bpp);
        if (in.bottom_up) {
            out->data[0] = d + size_t(stride) * (h - 1);
            out->linesize[0] = -stride;
        } else {
            out->data[0] = d;
            out->linesize[0] = stride;
        }
        return true;
    }
    case AV_PIX_FMT_YUV420P: {
        int stride = in.stride ? in.stride : w;
        out->data[0] = d;
        out->linesize[0] = stride;
        const uint8_t *u = d + size_t(stride) * h;
        const uint8_t *v = u + size_t(stride / 2) * ((h + 1) / 2);
        out->data[1] = in.swap_uv ? v : u;
        out->data[2] = in.swap_uv ? u : v;
        out->linesize[1] = out->linesize[2] = stride / 2;
        return true;
    }
    case AV_PIX_FMT_NV12: {
        int stride = in.stride ? in.stride : w;
        out->data[0] = d;
        out->data[1] = d + size_t(stride) * h;
        out->linesize[0] = out->linesize[1] = stride;
        return true;
    }
    default: return false;
    }
}

// Black where the fitted picture does not reach: whole rows above and below it, the sides
// beside it.
static void fill_border(uint8_t *plane, int linesize, int w, int h, int x, int y, int pw, int ph, uint8_t black) {
    for (int r = 0; r < h; ++r) {
        uint8_t *row = plane + size_t(r) * linesize;
        if (r < y || r >= y + ph) {
            std::memset(row, black, size_t(w));
        } else {
            std::memset(row, black, size_t(x));
            std::memset(row + x + pw, black, size_t(w - x - pw));
        }
    }
}

void PictureScaler::set_linesize(int linesize) {
    if (pool_ || linesize < FFALIGN(width_, 2) || linesize % 32) return;
    linesize_[0] = linesize;
    linesize_[1] = linesize_[2] = linesize / 2;
}

ffmpeg::FramePtr PictureScaler::new_frame() {
    // Rows on 64-byte boundaries (or as the encoders want them), and room past the last one
    // for swscale, which writes a few samples beyond a row's width.
    constexpr int kAlign = 64, kPadding = 64;
    const int ch = (height_ + 1) / 2;
    if (!pool_) {
        if (!linesize_[0] && av_image_fill_linesizes(linesize_, AV_PIX_FMT_YUV420P, FFALIGN(width_, kAlign)) < 0)
            return nullptr;
        size_t bytes = size_t(linesize_[0]) * height_ + 2 * size_t(linesize_[1]) * ch + kPadding;
        pool_.reset(av_buffer_pool_init(bytes, nullptr));
        if (!pool_) return nullptr;
    }
    ffmpeg::FramePtr f(av_frame_alloc());
    if (!f) return nullptr;
    f->buf[0] = av_buffer_pool_get(pool_.get());
    if (!f->buf[0]) return nullptr;
    f->format = AV_PIX_FMT_YUV420P;
    f->width = width_;
    f->height = height_;
    f->data[0] = f->buf[0]->data;
    f->data[1] = f->data[0] + size_t(linesize_[0]) * height_;
    f->data[2] = f->data[1] + size_t(linesize_[1]) * ch;
    for (int p = 0; p < 3; ++p) f->linesize[p] = linesize_[p];
    return f;
}

ffmpeg::FramePtr PictureScaler::scale(const Planes &in) {
    if (!setup(in.format >= 0 ? in.format : in_.pix_fmt, in.full_range)) return nullptr;
    ffmpeg::FramePtr f = new_frame();
    if (!f) return nullptr;
    uint8_t *dst[4] = {f->data[0] + y_ * f->linesize[0] + x_, f->data[1] + (y_ / 2) * f->linesize[1] + x_ / 2,
                       f->data[2] + (y_ / 2) * f->linesize[2] + x_ / 2, nullptr};
    int dls[4] = {f->linesize[0], f->linesize[1], f->linesize[2], 0};
    if (shrink_) {
        for (int p = 0; p < 3; ++p) {
            int pw = p ? in_.width / 2 : in_.width, ph = p ? in_.height / 2 : in_.height;
            if (!shrink_plane(shrink_, in.data[p], in.linesize[p], pw, ph, dst[p], dls[p], scratch_)) return nullptr;
        }
    } else if (downscale_) {
        luma_.scale(in.data[0], in.linesize[0], dst[0], dls[0]);
        for (int p = 1; p < 3; ++p) chroma_.scale(in.data[p], in.linesize[p], dst[p], dls[p]);
    } else {
        sws_scale(sws_.get(), in.data, in.linesize, 0, in_.height, dst, dls);
    }
    // The border goes in after the picture: swscale writes rows a few pixels past their
    // width, which left a stripe of picture in the bar right of a narrow picture.
    if (sw_ != width_ || sh_ != height_) {
        fill_border(f->data[0], f->linesize[0], width_, height_, x_, y_, sw_, sh_, 16);
        for (int p = 1; p < 3; ++p)
            fill_border(f->data[p], f->linesize[p], width_ / 2, height_ / 2, x_ / 2, y_ / 2, sw_ / 2, sh_ / 2, 128);
    }
    return f;
}

}  // namespace tw::posix::asf::recorder
