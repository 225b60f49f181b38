#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
}

#include "first_picture.h"

namespace host {

namespace {

std::string AvText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof text);
    return text;
}

uint8_t Clamped(double value) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, value + 0.5))); }

// Planar 8-bit Y'CbCr to RGB24 after ITU-R BT.601, in the range the picture
// says (full for JPEG, video levels for the others); no libswscale needed
// for one picture.
bool ToRgb(const AVFrame& in, AVFrame& out, std::string& error) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in.format));
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) ||
        d->nb_components < 3 || d->comp[0].depth != 8 || d->comp[1].depth != 8) {
        error = std::string("pictures in ") + (d ? d->name : "an unknown format") + " are not converted";
        return false;
    }
    out.format = AV_PIX_FMT_RGB24;
    out.width = in.width;
    out.height = in.height;
    if (av_frame_get_buffer(&out, 0) < 0) {
        error = "out of memory";
        return false;
    }
    const bool full = in.color_range == AVCOL_RANGE_JPEG || std::strncmp(d->name, "yuvj", 4) == 0;
    for (int y = 0; y < in.height; ++y) {
        const uint8_t* lumaRow = in.data[0] + y * in.linesize[0];
        const uint8_t* cbRow = in.data[1] + (y >> d->log2_chroma_h) * in.linesize[1];
        const uint8_t* crRow = in.data[2] + (y >> d->log2_chroma_h) * in.linesize[2];
        uint8_t* rgb = out.data[0] + y * out.linesize[0];
        for (int x = 0; x < in.width; ++x, rgb += 3) {
            const double cb = cbRow[x >> d->log2_chroma_w] - 128.0;
            const double cr = crRow[x >> d->log2_chroma_w] - 128.0;
            const double luma = full ? lumaRow[x] : (lumaRow[x] - 16) * 255.0 / 219;
            const double scale = full ? 1.0 : 255.0 / 224;
            rgb[0] = Clamped(luma + 1.402 * scale * cr);
            rgb[1] = Clamped(luma - (0.344136 * cb + 0.714136 * cr) * scale);
            rgb[2] = Clamped(luma + 1.772 * scale * cb);
        }
    }
    return true;
}

class LibavFirstPicture final : public FirstPicture {
public:
    explicit LibavFirstPicture(AVCodecContext* context)
        : context_(context), packet_(av_packet_alloc()), picture_(av_frame_alloc()) {}
    ~LibavFirstPicture() override {
        av_frame_free(&picture_);
        av_packet_free(&packet_);
        avcodec_free_context(&context_);
    }

    bool Feed(const uint8_t* data, uint32_t length) override {
        if (ready_) return true;
        if (!packet_ || !picture_ || av_new_packet(packet_, static_cast<int>(length)) < 0) {
            error_ = "out of memory";
            return false;
        }
        std::memcpy(packet_->data, data, length);
        const int sent = avcodec_send_packet(context_, packet_);
        av_packet_unref(packet_);
        // A frame the decoder refuses is skipped; a later one may decode.
        if (sent < 0) error_ = "the decoder refused a frame: " + AvText(sent);
        return Receive();
    }

    bool Drain() override {
        if (!ready_ && picture_ && avcodec_send_packet(context_, nullptr) >= 0) Receive();
        return ready_;
    }

    bool Ready() const override { return ready_; }
    int Width() const override { return ready_ ? picture_->width : 0; }
    int Height() const override { return ready_ ? picture_->height : 0; }
    std::string Error() const override { return error_; }

    bool WritePng(const std::string& path, std::string& error) override {
        AVFrame* rgb = av_frame_alloc();
        const AVCodec* png = avcodec_find_encoder(AV_CODEC_ID_PNG);
        AVCodecContext* encoder = png ? avcodec_alloc_context3(png) : nullptr;
        AVPacket* packet = av_packet_alloc();
        bool ok = false;
        if (!rgb || !encoder || !packet) {
            error = png ? "out of memory" : "libavcodec has no PNG encoder";
        } else if (ToRgb(*picture_, *rgb, error)) {
            encoder->width = rgb->width;
            encoder->height = rgb->height;
            encoder->pix_fmt = AV_PIX_FMT_RGB24;
            encoder->time_base = AVRational{1, 25};
            int result = avcodec_open2(encoder, png, nullptr);
            if (result >= 0) result = avcodec_send_frame(encoder, rgb);
            if (result >= 0) result = avcodec_receive_packet(encoder, packet);
            if (result < 0) {
                error = "the PNG encoder failed: " + AvText(result);
            } else if (FILE* file = std::fopen(path.c_str(), "wb")) {
                const bool written = std::fwrite(packet->data, 1, static_cast<size_t>(packet->size), file) ==
                                     static_cast<size_t>(packet->size);
                ok = std::fclose(file) == 0 && written;
                if (!ok) error = "cannot write " + path;
            } else {
                error = "cannot create " + path;
            }
        }
        av_packet_free(&packet);
        avcodec_free_context(&encoder);
        av_frame_free(&rgb);
        return ok;
    }

private:
    bool Receive() {
        for (;;) {
            const int result = avcodec_receive_frame(context_, picture_);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return ready_;
            if (result < 0) {
                error_ = "the decoder failed: " + AvText(result);
                return false;
            }
            // A picture with concealed damage is not the one to show.
            if (picture_->decode_error_flags == 0 && !(picture_->flags & AV_FRAME_FLAG_CORRUPT)) {
                ready_ = true;
                return true;
            }
            error_ = "the decoded picture was damaged";
            av_frame_unref(picture_);
        }
    }

    AVCodecContext* context_;
    AVPacket* packet_;
    AVFrame* picture_;
    bool ready_ = false;
    std::string error_;
};

}  // namespace

bool PicturesAvailable() { return true; }

std::unique_ptr<FirstPicture> NewFirstPicture(const std::string& codec, std::string& error) {
    av_log_set_level(AV_LOG_QUIET);
    const AVCodecID id = codec == "jpeg" ? AV_CODEC_ID_MJPEG : codec == "mpeg4" ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264;
    const AVCodec* decoder = avcodec_find_decoder(id);
    AVCodecContext* context = decoder ? avcodec_alloc_context3(decoder) : nullptr;
    if (context) {
        // The first picture as soon as its frame is in, not after reordering.
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        context->thread_count = 1;
    }
    if (!context || avcodec_open2(context, decoder, nullptr) < 0) {
        avcodec_free_context(&context);
        error = "libavcodec has no " + codec + " decoder";
        return nullptr;
    }
    return std::unique_ptr<FirstPicture>(new LibavFirstPicture(context));
}

}  // namespace host
