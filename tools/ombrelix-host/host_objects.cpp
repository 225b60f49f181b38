#include "host_objects.h"

#include <cstring>

namespace host {

void DebugSink::Receive(const CDebugInfoIf* info) {
    if (!info) return;
    std::string text = info->GetText() ? info->GetText() : "";
    int level = info->GetLevel();
    std::lock_guard<std::mutex> lock(mu_);
    messages_.emplace_back(level, text);
    if (messages_.size() > kKeptMessages) messages_.pop_front();
    if (!quiet_) std::fprintf(stderr, "driver [%3d] %s\n", level, text.c_str());
}

std::vector<std::pair<int, std::string>> DebugSink::Messages() {
    std::lock_guard<std::mutex> lock(mu_);
    return {messages_.begin(), messages_.end()};
}

SampleAllocator::~SampleAllocator() {
    for (auto& bucket : free_)
        for (Sample* s : bucket.second) delete s;
}

IMediaSample* SampleAllocator::AllocateSample(uint32_t fourcc, uint32_t capacity, const char*) {
    Sample* sample = nullptr;
    {
        std::lock_guard<std::mutex> lock(mu_);
        auto it = free_.find(capacity);
        if (it != free_.end() && !it->second.empty()) {
            sample = it->second.back();
            it->second.pop_back();
        }
    }
    if (!sample) sample = new Sample(capacity);
    sample->Prepare(fourcc);
    ++outstanding_;
    return sample;
}

void SampleAllocator::ReleaseSample(IMediaSample* raw) {
    if (!raw) return;
    auto* sample = static_cast<Sample*>(raw);
    --outstanding_;
    std::lock_guard<std::mutex> lock(mu_);
    auto& bucket = free_[static_cast<uint32_t>(sample->buffer.size())];
    // Keep a few of each size; one-off large frames are not worth keeping.
    if (bucket.size() < 8) {
        bucket.push_back(sample);
    } else {
        delete sample;
    }
}

StreamSink::StreamSink(uint32_t channel, const std::string& mediaPath, const std::string& logPath)
    : channel_(channel), counting_(mediaPath.empty()) {
    if (counting_) return;
    media_ = std::fopen(mediaPath.c_str(), "wb");
    log_ = std::fopen(logPath.c_str(), "w");
    if (log_) std::fprintf(log_, "# time(UTC) fourcc bytes width x height sizeclass\n");
}

StreamSink::~StreamSink() {
    if (media_) std::fclose(media_);
    if (log_) std::fclose(log_);
}

bool StreamSink::OnSample(IMediaSample* raw) {
    auto* sample = static_cast<Sample*>(raw);
    if (!sample || sample->length > sample->buffer.size()) return false;
    std::lock_guard<std::mutex> lock(mu_);
    if (media_) std::fwrite(sample->buffer.data(), 1, sample->length, media_);
    if (log_) {
        std::fprintf(log_, "%s %s %u %ux%u %u\n", FormatSystemTime(sample->time).c_str(),
                     FourccText(sample->fourcc).c_str(), sample->length, sample->width, sample->height,
                     sample->sizeClass);
    }
    const auto now = std::chrono::steady_clock::now();
    if (stats_.frames == 0) stats_.first = now;
    stats_.last = now;
    ++stats_.frames;
    stats_.bytes += sample->length;
    if (sample->fourcc == 0x34363248 || sample->fourcc == 0x58564944 || sample->fourcc == 0x4745504a)
        ++stats_.keyFrames;  // H264, DIVX and JPEG frames stand on their own
    stats_.width = sample->width;
    stats_.height = sample->height;
    stats_.fourcc = sample->fourcc;
    return true;
}

void StreamSink::OnSignalLost() {
    std::lock_guard<std::mutex> lock(mu_);
    ++stats_.signalLost;
    if (log_) std::fprintf(log_, "# signal lost (channel %u)\n", channel_);
}

StreamStats StreamSink::Stats() {
    std::lock_guard<std::mutex> lock(mu_);
    return stats_;
}

std::string FourccText(uint32_t fourcc) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = static_cast<char>((fourcc >> (8 * i)) & 0xFF);
        text.push_back(c >= 32 && c < 127 ? c : '?');
    }
    return text;
}

std::string FormatSystemTime(const SYSTEMTIME& t) {
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

}  // namespace host
