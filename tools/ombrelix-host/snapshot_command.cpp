#include "snapshot_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "channel_watch.h"
#include "first_picture.h"
#include "hostkit/driver_library.h"
#include "host_objects.h"
#include "opened_driver.h"

namespace host {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Decodes a channel's frames from its first key frame on until one picture
// came out; the frames after that are only counted.
class PictureSink final : public IStreamSink {
    OMBRELIX_DESTRUCTOR_SLOT(PictureSink)
public:
    explicit PictureSink(std::unique_ptr<FirstPicture> picture) : picture_(std::move(picture)) {}

    bool OnSample(IMediaSample* raw) override {
        auto* sample = static_cast<Sample*>(raw);
        if (!sample || sample->length > sample->buffer.size()) return false;
        std::lock_guard<std::mutex> lock(mu_);
        ++frames_;
        if (picture_->Ready()) return true;
        if (IsKeyFrame(sample->fourcc)) {
            ++keyFrames_;
            fourcc_ = sample->fourcc;
        }
        if (keyFrames_ > 0 && picture_->Feed(sample->buffer.data(), sample->length)) arrived_ = Clock::now();
        return true;
    }
    void OnSignalLost() override {
        std::lock_guard<std::mutex> lock(mu_);
        ++signalLost_;
    }

    bool Ready() {
        std::lock_guard<std::mutex> lock(mu_);
        return picture_->Ready();
    }
    // Once no frame comes any more: the picture if the decoder held it back.
    bool Drain() {
        std::lock_guard<std::mutex> lock(mu_);
        if (!picture_->Ready() && keyFrames_ > 0 && picture_->Drain()) arrived_ = Clock::now();
        return picture_->Ready();
    }
    // Why there is no picture, with the driver's latest cause where no
    // frame came at all.
    std::string Missing(const std::string& driverCause) {
        std::lock_guard<std::mutex> lock(mu_);
        std::string why;
        if (frames_ == 0) {
            why = "no frame arrived";
            if (!driverCause.empty()) why += " (the driver says: " + driverCause + ")";
        } else if (keyFrames_ == 0) {
            why = std::to_string(frames_) + " frames arrived, none of them a key frame";
        } else {
            const std::string error = picture_->Error();
            why = std::to_string(keyFrames_) + " key frames arrived, none decoded" + (error.empty() ? "" : ": " + error);
        }
        if (signalLost_) why += "; signal lost " + std::to_string(signalLost_) + " times";
        return why;
    }

    FirstPicture& Picture() { return *picture_; }
    uint32_t FourCC() const { return fourcc_; }
    Clock::time_point Arrived() const { return arrived_; }

private:
    std::mutex mu_;
    std::unique_ptr<FirstPicture> picture_;
    uint64_t frames_ = 0;
    uint64_t keyFrames_ = 0;
    uint32_t signalLost_ = 0;
    uint32_t fourcc_ = 0;
    Clock::time_point arrived_;
};

bool AllReady(std::vector<std::unique_ptr<PictureSink>>& sinks) {
    return std::all_of(sinks.begin(), sinks.end(), [](std::unique_ptr<PictureSink>& s) { return s->Ready(); });
}

// Writes a channel's picture under a name of its own, then gives it the
// final name: an earlier picture stays as it was unless a new one is whole.
bool WritePicture(FirstPicture& picture, const std::string& file, std::string& error) {
    const std::string partial = file + ".part-" + std::to_string(CurrentProcessId());
    std::error_code failed;
    if (!picture.WritePng(partial, error)) {
        fs::remove(partial, failed);
        return false;
    }
    fs::rename(partial, file, failed);
    if (!failed) return true;
    error = "cannot rename " + partial + ": " + failed.message();
    fs::remove(partial, failed);
    return false;
}

}  // namespace

std::string SnapshotFile(const std::string& prefix, uint32_t channel) {
    return prefix + "-ch" + std::to_string(channel) + ".png";
}

int RunSnapshot(const SnapshotOptions& given) {
    SnapshotOptions options = given;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.timeout));
    for (uint32_t i = 0; i < options.channels; ++i) {
        std::error_code ignored;
        const std::string file = SnapshotFile(options.prefix, i);
        if (!options.overwrite && fs::exists(file, ignored)) {
            std::fprintf(stderr, "ombrelix-host: %s exists (-y or --overwrite replaces it)\n", file.c_str());
            return 2;
        }
    }
    const fs::path folder = fs::path(SnapshotFile(options.prefix, 0)).parent_path();
    std::error_code missing;
    if (!folder.empty() && !fs::is_directory(folder, missing)) {
        std::fprintf(stderr, "ombrelix-host: --output: there is no folder %s\n", folder.string().c_str());
        return 2;
    }
    std::string error;
    std::vector<std::unique_ptr<PictureSink>> sinks;
    for (uint32_t i = 0; i < options.channels; ++i) {
        std::unique_ptr<FirstPicture> picture = NewFirstPicture(options.codec, error);
        if (!picture) {
            std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
            return 2;
        }
        sinks.emplace_back(new PictureSink(std::move(picture)));
    }
    hostkit::DriverLibrary library;
    if (!LoadDriver(library, options)) return 2;
    if (int status = TakeCapabilities(library, options, end)) return status;
    DeviceConfig device;
    if (!BuildParameters(options, device.parameters, error)) {
        std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
        return 2;
    }
    FillDevice(options, CodecCode(options.codec), device);

    DebugSink debug(options.quiet);
    SampleAllocator allocator;
    OpenedDriver driver;
    if (!driver.Open(library, &debug, &allocator, &device, error)) {
        std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
        return 1;
    }
    IIPVideoCapture* capture = driver->GetVideoCapture();
    if (!capture) {
        std::fprintf(stderr, "ombrelix-host: the driver has no video capture object\n");
        return 1;
    }
    StreamConfig config(options.width, options.height, options.interval, options.quality);
    for (uint32_t i = 0; i < options.channels; ++i) {
        if (!capture->StartChannel(i, sinks[i].get(), &config))
            std::fprintf(stderr, "ombrelix-host: channel %u did not start\n", i);
    }
    while (!StopRequested() && Clock::now() < end && !AllReady(sinks))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const bool interrupted = StopRequested();
    debug.Stopping();
    StopAllChannels(*capture, options.channels);
    driver.Close();  // no frame arrives after this

    int status = 0;
    for (uint32_t i = 0; i < options.channels; ++i) {
        PictureSink& sink = *sinks[i];
        const std::string file = SnapshotFile(options.prefix, i);
        if (!sink.Drain()) {
            std::fprintf(stderr, "ombrelix-host: channel %u: no picture %s: %s\n", i,
                         interrupted ? "before the interrupt" : "in time",
                         sink.Missing(debug.LastCause()).c_str());
            status = 1;
        } else if (!WritePicture(sink.Picture(), file, error)) {
            std::fprintf(stderr, "ombrelix-host: channel %u: %s\n", i, error.c_str());
            status = 1;
        } else {
            std::printf("channel %u: %dx%d %s picture after %.1f s: %s\n", i, sink.Picture().Width(),
                        sink.Picture().Height(), FourccText(sink.FourCC()).c_str(),
                        std::chrono::duration<double>(sink.Arrived() - start).count(), file.c_str());
        }
    }
    std::fflush(stdout);
    return interrupted ? kInterruptedStatus : status;
}

}  // namespace host
