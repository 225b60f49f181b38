#include "host_objects.h"

#include <algorithm>
#include <cstring>

#include "media_file.h"

namespace host {

namespace {

// "where: Camera A: reason" of a connection attempt, a depacketizer or an
// I/O operation that failed: the reason; empty for every other message.
std::string CauseIn(const std::string& text) {
    static const char* const kSources[] = {"CBaseRTPChannel::Connect: ", "CBaseRTPChannel::FeedParser: ",
                                           "CIOBase::ReportFailure: "};
    for (const char* source : kSources) {
        const size_t at = text.find(source);
        if (at == std::string::npos) continue;
        const size_t device = at + std::strlen(source);
        const size_t reason = text.find(": ", device);
        return reason == std::string::npos ? text.substr(device) : text.substr(reason + 2);
    }
    return std::string();
}

}  // namespace

void DebugSink::Receive(const CDebugInfoIf* info) {
    if (!info) return;
    std::string text = info->GetText() ? info->GetText() : "";
    int level = info->GetLevel();
    std::lock_guard<std::mutex> lock(mu_);
    if (messages_.size() == kKept) messages_.pop_front();
    messages_.emplace_back(level, text);
    const bool askedFor = stopping_ && text.find("Channel was stopped") != std::string::npos;
    const std::string cause = CauseIn(text);
    if (!cause.empty()) lastCause_ = cause;
    if (!quiet_ && !askedFor) {
        std::fprintf(stderr, "driver [%3d] %s\n", level, text.c_str());
    } else if (!cause.empty() && printCauses_) {
        std::fprintf(stderr, "ombrelix-host: the driver says: %s\n", cause.c_str());
    }
}

std::string DebugSink::LastCause() {
    std::lock_guard<std::mutex> lock(mu_);
    return lastCause_;
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

StreamSink::StreamSink(uint32_t channel, std::unique_ptr<MediaFile> media, const std::string& logPath)
    : channel_(channel), counting_(!media), media_(std::move(media)) {
    if (counting_) return;
    log_ = std::fopen(logPath.c_str(), "w");
    if (log_) std::fprintf(log_, "# time(UTC) fourcc bytes width x height sizeclass\n");
}

StreamSink::~StreamSink() {
    std::string ignored;
    Finish(ignored);
}

bool StreamSink::Finish(std::string& error) {
    std::lock_guard<std::mutex> lock(mu_);
    bool ok = mediaError_.empty();
    if (!ok) error = mediaError_;
    if (media_) {
        std::string closing;
        if (!media_->Close(closing) && ok) {
            error = closing;
            ok = false;
        }
        media_.reset();
    }
    if (log_ && std::fclose(log_) != 0 && ok) {
        error = "the frame log could not be written";
        ok = false;
    }
    log_ = nullptr;
    return ok;
}

bool StreamSink::OnSample(IMediaSample* raw) {
    auto* sample = static_cast<Sample*>(raw);
    if (!sample || sample->length > sample->buffer.size()) return false;
    std::lock_guard<std::mutex> lock(mu_);
    if (media_ && mediaError_.empty()) {
        media_->Write(sample->buffer.data(), sample->length, sample->fourcc, sample->width, sample->height,
                      SystemTimeMilliseconds(sample->time), mediaError_);
    }
    if (log_) {
        std::fprintf(log_, "%s %s %u %ux%u %u\n", FormatSystemTime(sample->time).c_str(),
                     FourccText(sample->fourcc).c_str(), sample->length, sample->width, sample->height,
                     sample->sizeClass);
    }
    const auto now = std::chrono::steady_clock::now();
    if (stats_.frames == 0) {
        stats_.first = now;
    } else {
        stats_.longestGap = std::max(stats_.longestGap, now - stats_.last);
    }
    stats_.last = now;
    ++stats_.frames;
    stats_.bytes += sample->length;
    if (IsKeyFrame(sample->fourcc)) ++stats_.keyFrames;
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

bool IsKeyFrame(uint32_t fourcc) { return fourcc == 0x34363248 || fourcc == 0x58564944 || fourcc == 0x4745504a; }

int64_t SystemTimeMilliseconds(const SYSTEMTIME& t) {
    // Days from the civil date (proleptic Gregorian), after H. Hinnant.
    const int64_t y = static_cast<int64_t>(t.wYear) - (t.wMonth <= 2 ? 1 : 0);
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t m = t.wMonth;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.wDay - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return ((days * 24 + t.wHour) * 60 + t.wMinute) * 60000 + t.wSecond * 1000 + t.wMilliseconds;
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
