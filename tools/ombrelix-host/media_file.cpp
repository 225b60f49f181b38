#include "media_file.h"

#include <cstdio>

#include "container_file.h"

namespace host {

namespace {

class RawMediaFile final : public MediaFile {
public:
    explicit RawMediaFile(FILE* file) : file_(file) {}
    ~RawMediaFile() override {
        std::string ignored;
        Close(ignored);
    }
    bool Write(const uint8_t* data, uint32_t length, uint32_t, uint32_t, uint32_t, int64_t,
               std::string& error) override {
        if (std::fwrite(data, 1, length, file_) == length) return true;
        error = "the file could not be written";
        return false;
    }
    bool Close(std::string& error) override {
        if (!file_) return true;
        const bool ok = std::fclose(file_) == 0;
        file_ = nullptr;
        if (!ok) error = "the file could not be written";
        return ok;
    }

private:
    FILE* file_;
};

}  // namespace

bool KnownMediaFormat(const std::string& format) { return format == "mkv" || format == "mp4" || format == "raw"; }

bool MediaFormatAvailable(const std::string& format) {
    return format == "raw" || (KnownMediaFormat(format) && ContainersAvailable());
}

std::string MediaFileEnding(const std::string& format, const std::string& codec) {
    if (format != "raw") return format;
    if (codec == "jpeg") return "mjpeg";
    if (codec == "mpeg4") return "m4v";
    return "h264";
}

std::unique_ptr<MediaFile> OpenMediaFile(const std::string& format, const std::string& codec, const std::string& path,
                                         std::string& error) {
    if (format != "raw") return OpenContainerFile(format, codec, path, error);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = "cannot create " + path;
        return nullptr;
    }
    return std::unique_ptr<MediaFile>(new RawMediaFile(file));
}

}  // namespace host
