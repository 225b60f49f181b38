#include <cstring>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "container_file.h"
#include "host_objects.h"

namespace host {

namespace {

// Offset of the next 00 00 01 start code from position, or the size.
size_t NextStartCode(const uint8_t* data, size_t size, size_t position) {
    for (size_t i = position; i + 3 <= size; ++i)
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    return size;
}

// The decoder configuration a container keeps apart from the frames: the
// H.264 sequence and picture parameter sets (Annex B, as libavformat takes
// them), or the MPEG-4 headers before the first video object plane.
std::vector<uint8_t> DecoderConfiguration(AVCodecID codec, const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    if (codec == AV_CODEC_ID_MPEG4) {
        for (size_t at = NextStartCode(data, size, 0); at < size; at = NextStartCode(data, size, at + 3)) {
            if (at + 3 < size && data[at + 3] == 0xB6) return std::vector<uint8_t>(data, data + at);
        }
        return out;
    }
    if (codec != AV_CODEC_ID_H264) return out;
    for (size_t at = NextStartCode(data, size, 0); at < size;) {
        const size_t next = NextStartCode(data, size, at + 3);
        const int type = at + 3 < size ? data[at + 3] & 0x1F : 0;
        if (type == 7 || type == 8) out.insert(out.end(), data + at, data + next);
        at = next;
    }
    return out;
}

class ContainerFile final : public MediaFile {
public:
    ContainerFile(AVFormatContext* context, AVCodecID codec) : context_(context), codec_(codec) {}
    ~ContainerFile() override {
        std::string ignored;
        Close(ignored);
    }

    bool Write(const uint8_t* data, uint32_t length, uint32_t fourcc, uint32_t width, uint32_t height, int64_t timeMs,
               std::string& error) override {
        if (!context_) return false;
        if (!started_) {
            // A player starts at a picture that stands on its own.
            if (!IsKeyFrame(fourcc)) return true;
            if (!Begin(data, length, width, height, error)) return false;
            firstMs_ = timeMs;
        }
        AVStream* stream = context_->streams[0];
        int64_t pts = av_rescale_q(timeMs - firstMs_, AVRational{1, 1000}, stream->time_base);
        // Frame times from the camera's clock may repeat or step back; the
        // container needs them to grow.
        if (lastPts_ != AV_NOPTS_VALUE && pts <= lastPts_) pts = lastPts_ + 1;
        lastPts_ = pts;
        AVPacket* packet = av_packet_alloc();
        if (!packet) return Fail("out of memory", error);
        packet->data = const_cast<uint8_t*>(data);
        packet->size = static_cast<int>(length);
        packet->pts = packet->dts = pts;
        packet->stream_index = 0;
        if (IsKeyFrame(fourcc)) packet->flags |= AV_PKT_FLAG_KEY;
        const int result = av_write_frame(context_, packet);
        av_packet_free(&packet);
        return result >= 0 || Fail("the file could not be written", error);
    }

    bool Close(std::string& error) override {
        if (!context_) return true;
        bool ok = true;
        if (started_) {
            ok = av_write_trailer(context_) >= 0;
            if (!ok) error = "the file could not be completed";
        } else {
            ok = false;
            error = "no frame a player can start at arrived";
        }
        avio_closep(&context_->pb);
        avformat_free_context(context_);
        context_ = nullptr;
        return ok;
    }

private:
    bool Fail(const char* reason, std::string& error) {
        error = reason;
        return false;
    }

    bool Begin(const uint8_t* data, uint32_t length, uint32_t width, uint32_t height, std::string& error) {
        AVStream* stream = avformat_new_stream(context_, nullptr);
        if (!stream) return Fail("out of memory", error);
        stream->time_base = AVRational{1, 1000};
        AVCodecParameters* codec = stream->codecpar;
        codec->codec_type = AVMEDIA_TYPE_VIDEO;
        codec->codec_id = codec_;
        codec->width = static_cast<int>(width);
        codec->height = static_cast<int>(height);
        const std::vector<uint8_t> configuration = DecoderConfiguration(codec_, data, length);
        if (!configuration.empty()) {
            codec->extradata = static_cast<uint8_t*>(av_mallocz(configuration.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!codec->extradata) return Fail("out of memory", error);
            std::memcpy(codec->extradata, configuration.data(), configuration.size());
            codec->extradata_size = static_cast<int>(configuration.size());
        }
        if (avformat_write_header(context_, nullptr) < 0) return Fail("the container header could not be written", error);
        started_ = true;
        return true;
    }

    AVFormatContext* context_;
    AVCodecID codec_;
    bool started_ = false;
    int64_t firstMs_ = 0;
    int64_t lastPts_ = AV_NOPTS_VALUE;
};

}  // namespace

bool ContainersAvailable() { return true; }

std::unique_ptr<MediaFile> OpenContainerFile(const std::string& format, const std::string& codec,
                                             const std::string& path, std::string& error) {
    const AVCodecID id = codec == "jpeg" ? AV_CODEC_ID_MJPEG : codec == "mpeg4" ? AV_CODEC_ID_MPEG4 : AV_CODEC_ID_H264;
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, format == "mp4" ? "mp4" : "matroska", path.c_str()) < 0 ||
        !context) {
        error = "no " + format + " writer in libavformat";
        return nullptr;
    }
    if (avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
        avformat_free_context(context);
        error = "cannot create " + path;
        return nullptr;
    }
    return std::unique_ptr<MediaFile>(new ContainerFile(context, id));
}

}  // namespace host
