#include "support/video_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace fakes {

struct VideoDecoder::Impl {
    const AVCodec* codec = nullptr;
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
};

VideoDecoder::VideoDecoder(Codec codec) : impl_(new Impl) {
    av_log_set_level(AV_LOG_QUIET);
    AVCodecID id = codec == Codec::H264 ? AV_CODEC_ID_H264 : codec == Codec::Mpeg4 ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_MJPEG;
    impl_->codec = avcodec_find_decoder(id);
    impl_->context = avcodec_alloc_context3(impl_->codec);
    // Report damaged input as an error instead of concealing it.
    impl_->context->err_recognition = AV_EF_EXPLODE | AV_EF_CRCCHECK | AV_EF_BITSTREAM;
    impl_->context->thread_count = 1;
    avcodec_open2(impl_->context, impl_->codec, nullptr);
    impl_->packet = av_packet_alloc();
    impl_->frame = av_frame_alloc();
}

VideoDecoder::~VideoDecoder() {
    av_frame_free(&impl_->frame);
    av_packet_free(&impl_->packet);
    avcodec_free_context(&impl_->context);
}

bool VideoDecoder::Receive() {
    for (;;) {
        int r = avcodec_receive_frame(impl_->context, impl_->frame);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) {
            char text[128];
            av_strerror(r, text, sizeof(text));
            error_ = text;
            return false;
        }
        if (impl_->frame->decode_error_flags) {
            error_ = "decode error flags set";
            return false;
        }
        pictures_.push_back({impl_->frame->width, impl_->frame->height});
        av_frame_unref(impl_->frame);
    }
}

bool VideoDecoder::Decode(const std::vector<uint8_t>& frame) {
    if (av_new_packet(impl_->packet, static_cast<int>(frame.size())) < 0) return false;
    std::copy(frame.begin(), frame.end(), impl_->packet->data);
    int r = avcodec_send_packet(impl_->context, impl_->packet);
    av_packet_unref(impl_->packet);
    if (r < 0) {
        char text[128];
        av_strerror(r, text, sizeof(text));
        error_ = text;
        return false;
    }
    return Receive();
}

bool VideoDecoder::Flush() {
    avcodec_send_packet(impl_->context, nullptr);
    return Receive();
}

}  // namespace fakes
