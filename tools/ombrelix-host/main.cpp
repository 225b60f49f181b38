// ombrelix-host: a command-line recorder host for the Ombrelix driver.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "io_command.h"
#include "probe_command.h"
#include "record_command.h"

namespace {

const char kPasswordHelp[] =
    "The password comes from -w, --password-file or --ask-password, or else from the environment variable "
    "OMBRELIX_PASSWORD. A password given with -w can be read by every user of this computer while the program "
    "runs; the other three keep it out of the process list.";

void AddDeviceOptions(CLI::App* command, host::DeviceOptions& device) {
    command->add_option("--library", device.library,
                        "path of libombrelix.so (default: the one built beside this program)");
    command->add_option("-a,--address", device.address, "device address")->capture_default_str();
    command->add_option("-p,--port", device.port, "device HTTP port")->capture_default_str();
    command->add_option("-u,--user", device.user, "user name");
    CLI::Option* password =
        command->add_option("-w,--password", device.password, "password (visible to other local users)");
    CLI::Option* file = command->add_option("--password-file", device.passwordFile,
                                            "read the password from the first line of FILE");
    CLI::Option* ask =
        command->add_flag("--ask-password", device.askPassword, "ask for the password on the terminal");
    password->excludes(file)->excludes(ask);
    file->excludes(ask);
    command->footer(kPasswordHelp);
}

// The password from wherever the options say; a message and false when it
// cannot be had.
bool Resolve(host::DeviceOptions& device) {
    std::string error;
    if (host::ResolvePassword(device, error)) return true;
    std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"ombrelix-host: loads the Ombrelix driver as a recorder host does and drives it"};
    app.set_version_flag("--version", "ombrelix-host " OMBRELIX_VERSION);
    app.require_subcommand(1);

    host::RecordOptions record;
    CLI::App* rec = app.add_subcommand("record", "record every channel of one device for a while");
    AddDeviceOptions(rec, record);
    rec->add_option("-c,--codec", record.codec, "h264, mpeg4 or jpeg")->capture_default_str();
    rec->add_option("--model", record.model, "device model text")->capture_default_str();
    rec->add_option("-n,--channels", record.channels, "number of video channels")->capture_default_str();
    rec->add_option("--inputs", record.inputs, "number of digital inputs")->capture_default_str();
    rec->add_option("--outputs", record.outputs, "number of digital outputs")->capture_default_str();
    rec->add_option("--capability", record.capabilities,
                    "capability text of channel 0, 1, ... (device parameters 2, 3, ...), as `probe` prints it");
    rec->add_option("--param", record.parameters, "device parameter INDEX=TEXT (parameter 1 defaults to 0)");
    rec->add_option("--width", record.width, "picture width asked for")->capture_default_str();
    rec->add_option("--height", record.height, "picture height asked for")->capture_default_str();
    rec->add_option("--interval", record.interval, "milliseconds between frames")->capture_default_str();
    rec->add_option("--quality", record.quality, "quality 0 to 100")->capture_default_str();
    rec->add_option("-d,--duration", record.duration, "seconds to record")->capture_default_str();
    rec->add_option("-o,--output", record.output, "folder for channel<N>.<ending> and channel<N>.log")->capture_default_str();
    rec->add_flag("-q,--quiet", record.quiet, "do not print the driver's messages");
    rec->add_flag("--discard", record.discard, "count the frames without writing them");
    rec->add_flag("--progress", record.progress,
                  "print 'progress SECONDS CHANNELS_STREAMING FRAMES BYTES' every second, totals over all channels");
    rec->add_flag("--probe", record.probe, "run the capability query first and use its capability texts");

    host::ProbeOptions probe;
    CLI::App* pro = app.add_subcommand("probe", "ask a camera what it offers (the driver's capability query)");
    AddDeviceOptions(pro, probe);
    pro->add_flag("--json", probe.json, "print what the host received as JSON");
    pro->add_flag("--video-standard", probe.videoStandard, "set the video standard flag of the query");
    pro->add_option("--timeout", probe.timeout, "seconds to wait for the answer")->capture_default_str();

    host::IoOptions io;
    CLI::App* ioc = app.add_subcommand("io", "watch digital inputs and set digital outputs");
    AddDeviceOptions(ioc, io);
    ioc->add_option("--inputs", io.inputs, "number of digital inputs")->capture_default_str();
    ioc->add_option("--outputs", io.outputs, "number of digital outputs")->capture_default_str();
    ioc->add_option("--set", io.set, "OUTPUT=VALUE to write after start (1 drives it high)");
    ioc->add_option("-d,--duration", io.duration, "seconds to watch")->capture_default_str();

    CLI11_PARSE(app, argc, argv);
    host::InstallStopHandler();
    if (rec->parsed()) return Resolve(record) ? host::RunRecord(record) : 2;
    if (pro->parsed()) return Resolve(probe) ? host::RunProbe(probe) : 2;
    if (ioc->parsed()) return Resolve(io) ? host::RunIo(io) : 2;
    return 2;
}
