// ombrelix-host: a command-line recorder host for the Ombrelix driver.
#include <CLI/CLI.hpp>

#include <cstdio>

#include "io_command.h"
#include "media_file.h"
#include "private_configuration.h"
#include "probe_command.h"
#include "record_command.h"
#include "snapshot_command.h"

namespace {

#if defined(_WIN32)
#define LIBRARY_NAME "Ombrelix.dll"
#define PROGRAM "ombrelix-host.exe"
#define QUOTE "\""
#define CONTINUED " ^\n"
#else
#define LIBRARY_NAME "libombrelix.so"
#define PROGRAM "ombrelix-host"
#define QUOTE "'"
#define CONTINUED " \\\n"
#endif

const char kPasswordHelp[] =
    "The password comes from -w, --password-file or --ask-password, or else from the environment variable "
    "OMBRELIX_PASSWORD. A password given with -w can be read by every user of this computer while the program "
    "runs; the other three keep it out of the process list. Exit status: 0 done, 1 the device or a channel "
    "failed, 2 a bad option, 130 interrupted.";

const char kRecordExamples[] =
    "\nExamples:\n"
    "  " PROGRAM " record -a 192.168.1.64 -u admin --ask-password -d 30 -o rec\n"
    "      asks the camera for its capability text, records channel 0 for 30 s into rec/channel0.mkv\n"
    "  " PROGRAM " record -a 192.168.1.64 -u admin --ask-password -n 2 --transport tcp -d 60 -y" CONTINUED
    "      --capability " QUOTE "101;554;CBR,VBR;64;8192;20,40,60,80,100" QUOTE
    " --capability " QUOTE "201;554;CBR,VBR;64;8192;20,40,60,80,100" QUOTE "\n"
    "      two channels over RTP in the RTSP connection, replacing earlier files\n";

const char kSnapshotExamples[] =
    "\nEach channel's first key frame is decoded and written as a PNG picture; a channel that gives none "
    "before the time-out fails the run and leaves no file.\n"
    "Examples:\n"
    "  " PROGRAM " snapshot -a 192.168.1.64 -u admin --ask-password\n"
    "      asks the camera for its capability text, writes channel 0 to snapshot-ch0.png\n"
    "  " PROGRAM " snapshot -a 192.168.1.64 -u admin --ask-password -n 2 --width 1280 --height 720 -o shots/door -y\n"
    "      writes shots/door-ch0.png and shots/door-ch1.png, replacing earlier ones\n";

const char kProbeExamples[] =
    "\nExamples:\n"
    "  " PROGRAM " probe -a 192.168.1.64 -u admin --ask-password\n"
    "  " PROGRAM " probe -a 192.168.1.64 -u admin --password-file pw.txt --json\n";

const char kIoExamples[] =
    "\nThe driver drives every output it is told of high when it starts; this command tells it of outputs only "
    "up to the highest one --set names, and of none without --set.\n"
    "Examples:\n"
    "  " PROGRAM " io -a 192.168.1.64 -u admin --ask-password --inputs 2 -d 60\n"
    "      watches two inputs, touches no output\n"
    "  " PROGRAM " io -a 192.168.1.64 -u admin --ask-password --set 0=0 -d 5\n"
    "      output 0 goes high as the driver starts, then low\n";

void AddDeviceOptions(CLI::App* command, host::DeviceOptions& device) {
    command->add_option("--library", device.library, "path of " LIBRARY_NAME " (default: the one beside this program)");
    command->add_option("-a,--address", device.address, "device address")->capture_default_str();
    command->add_option("-p,--port", device.port, "device HTTP port")->capture_default_str()->check(CLI::Range(1, 65535));
    command->add_option("-u,--user", device.user, "user name");
    CLI::Option* password =
        command->add_option("-w,--password", device.password, "password (visible to other local users)");
    CLI::Option* file = command->add_option("--password-file", device.passwordFile,
                                            "read the password from the first line of FILE");
    CLI::Option* ask =
        command->add_flag("--ask-password", device.askPassword, "ask for the password on the terminal");
    password->excludes(file)->excludes(ask);
    file->excludes(ask);
}

// The password from wherever the options say; a message and false when it
// cannot be had.
bool Resolve(host::DeviceOptions& device) {
    std::string error;
    if (host::ResolvePassword(device, error)) return true;
    std::fprintf(stderr, "ombrelix-host: %s\n", error.c_str());
    return false;
}

const CLI::Validator kCapabilityText(
    [](std::string& text) {
        std::string error;
        return host::CheckCapabilityText(text, error) ? std::string() : error;
    },
    "TEXT");

const CLI::Validator kWritableFormat(
    [](std::string& format) {
        return host::MediaFormatAvailable(format)
                   ? std::string()
                   : "this build writes no " + format + " files (no libavformat): use --format raw";
    },
    "");

// What record and snapshot share: the device, its channels, the stream
// asked for and the transport.
void AddStreamOptions(CLI::App* command, host::RecordOptions& record, host::PrivateConfiguration& privateConfiguration) {
    AddDeviceOptions(command, record);
    command->add_option("-c,--codec", record.codec, "h264, mpeg4 or jpeg")
        ->capture_default_str()
        ->check(CLI::IsMember({"h264", "mpeg4", "jpeg"}));
    command->add_option("--model", record.model, "device model text")->capture_default_str();
    command->add_option("-n,--channels", record.channels, "number of video channels")
        ->capture_default_str()
        ->check(CLI::Range(1, 256));
    command->add_option("--capability", record.capabilities,
                    "capability text of channel 0, 1, ... (device parameters 2, 3, ...), as `probe` prints it; "
                    "without one the capability query is run")
        ->check(kCapabilityText);
    command->add_option("--param", record.parameters, "device parameter INDEX=TEXT (parameter 1 defaults to 0)");
    command->add_option("--width", record.width, "picture width asked for")->capture_default_str()->check(CLI::Range(1, 65535));
    command->add_option("--height", record.height, "picture height asked for")
        ->capture_default_str()
        ->check(CLI::Range(1, 65535));
    command->add_option("--interval", record.interval, "milliseconds between frames")
        ->capture_default_str()
        ->check(CLI::Range(1, 65535));
    command->add_option("--quality", record.quality, "quality 0 to 100")->capture_default_str()->check(CLI::Range(0, 100));
    command->add_flag("-y,--overwrite", record.overwrite, "replace files of an earlier run");
    command->add_flag("-q,--quiet", record.quiet, "do not print the driver's messages");
    command->add_flag("--probe", record.probe, "run the capability query first and use its capability texts");
    CLI::Option* transport =
        command->add_option("--transport", privateConfiguration.transport,
                        "RTP over udp, tcp (interleaved, RTP/AVP/TCP) or rtsp (interleaved, the session's profile)")
            ->check(CLI::IsMember({"udp", "tcp", "rtsp"}));
    command->add_option("--config", privateConfiguration.file, "driver configuration file to use instead of the one beside "
                                                           "this program")
        ->excludes(transport);
}

void AddRecordOptions(CLI::App* rec, host::RecordOptions& record, host::PrivateConfiguration& privateConfiguration) {
    AddStreamOptions(rec, record, privateConfiguration);
    rec->add_option("--inputs", record.inputs, "number of digital inputs")->capture_default_str()->check(CLI::Range(0, 256));
    rec->add_option("--outputs", record.outputs, "number of digital outputs (this command never starts the I/O)")
        ->capture_default_str()
        ->check(CLI::Range(0, 256));
    rec->add_option("-d,--duration", record.duration, "seconds the whole command runs")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    rec->add_option("-o,--output", record.output, "folder for channel<N>.<ending> and channel<N>.log")
        ->capture_default_str();
    // Builds without libavformat write raw elementary streams only.
    if (!host::MediaFormatAvailable(record.format)) record.format = "raw";
    rec->add_option("--format", record.format,
                    "mkv or mp4 (the frames with their times), raw (the elementary stream as the driver hands it)")
        ->capture_default_str()
        ->check(CLI::IsMember({"mkv", "mp4", "raw"}) & kWritableFormat);
    rec->add_option("--min-rate", record.minRatePercent,
                    "a channel delivering under this percentage of the asked frame rate fails the run")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 100.0));
    rec->add_flag("--json", record.json, "print the summary as JSON");
    rec->add_flag("--discard", record.discard, "count the frames without writing them");
    rec->add_flag("--progress", record.progress,
                  "print 'progress SECONDS CHANNELS_STREAMING FRAMES BYTES' every second, totals over all channels");
}

void AddSnapshotOptions(CLI::App* snap, host::SnapshotOptions& snapshot,
                        host::PrivateConfiguration& privateConfiguration) {
    AddStreamOptions(snap, snapshot, privateConfiguration);
    snap->add_option("-o,--output", snapshot.prefix, "the pictures are PREFIX-ch<N>.png")->capture_default_str();
    snap->add_option("-t,--timeout", snapshot.timeout, "seconds the whole command may take")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
}

// The transport to use and, in the process that uses it, the password;
// true with an exit status when this process is done.
bool PrepareStream(host::RecordOptions& options, const host::PrivateConfiguration& privateConfiguration, int argc,
                   char** argv, int& status) {
    if (host::InPrivateFolder()) {
        // The first process asked for the password already.
        options.passwordFile.clear();
        options.askPassword = false;
    }
    status = 2;
    if (!Resolve(options)) return true;
    if (host::RunInPrivateFolder(privateConfiguration, options, argc, argv, status)) return true;
    options.transport = host::DescribeTransport(options, privateConfiguration);
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"ombrelix-host: loads the Ombrelix driver (" LIBRARY_NAME ") as a recorder host does and drives it"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "ombrelix-host " OMBRELIX_VERSION);

    host::RecordOptions record;
    host::PrivateConfiguration privateConfiguration;
    CLI::App* rec = app.add_subcommand("record", "record every channel of one device for a while");
    AddRecordOptions(rec, record, privateConfiguration);
    rec->footer(std::string(kPasswordHelp) + "\n" + kRecordExamples);

    host::SnapshotOptions snapshot;
    CLI::App* snap = app.add_subcommand("snapshot", "write one decoded picture of every channel of one device");
    AddSnapshotOptions(snap, snapshot, privateConfiguration);
    snap->footer(std::string(kPasswordHelp) + "\n" + kSnapshotExamples);

    host::ProbeOptions probe;
    CLI::App* pro = app.add_subcommand("probe", "ask a camera what it offers (the driver's capability query)");
    AddDeviceOptions(pro, probe);
    pro->add_flag("--json", probe.json, "print what the host received as JSON (the password masked)");
    pro->add_flag("--video-standard", probe.videoStandard, "set the video standard flag of the query");
    pro->add_option("--timeout", probe.timeout, "seconds to wait for the answer")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    pro->footer(std::string(kPasswordHelp) + "\n" + kProbeExamples);

    host::IoOptions io;
    CLI::App* ioc = app.add_subcommand("io", "watch digital inputs and set digital outputs");
    AddDeviceOptions(ioc, io);
    ioc->add_option("--inputs", io.inputs, "number of digital inputs")->capture_default_str()->check(CLI::Range(0, 256));
    ioc->add_option("--set", io.set, "OUTPUT=VALUE to write after start (1 drives it high, anything else low)");
    ioc->add_option("-d,--duration", io.duration, "seconds to watch")->capture_default_str()->check(CLI::PositiveNumber);
    ioc->footer(std::string(kPasswordHelp) + "\n" + kIoExamples);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version end well; every bad option is status 2.
        return app.exit(e) == 0 ? 0 : 2;
    }
    host::InstallStopHandler();
    int status = 0;
    if (rec->parsed())
        return PrepareStream(record, privateConfiguration, argc, argv, status) ? status : host::RunRecord(record);
    if (snap->parsed())
        return PrepareStream(snapshot, privateConfiguration, argc, argv, status) ? status : host::RunSnapshot(snapshot);
    if (pro->parsed()) return Resolve(probe) ? host::RunProbe(probe) : 2;
    if (ioc->parsed()) return Resolve(io) ? host::RunIo(io) : 2;
    return 2;
}
