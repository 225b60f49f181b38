// ombrelix-host: a command-line recorder host for the Ombrelix driver.
#include <CLI/CLI.hpp>

#include "record_command.h"

int main(int argc, char** argv) {
    CLI::App app{"ombrelix-host: loads the Ombrelix driver as a recorder host does and drives it"};
    app.require_subcommand(1);

    host::RecordOptions record;
    CLI::App* rec = app.add_subcommand("record", "record every channel of one device for a while");
    rec->add_option("--library", record.library, "path of libombrelix.so (default: the one built beside this program)");
    rec->add_option("-a,--address", record.address, "device address")->capture_default_str();
    rec->add_option("-p,--port", record.port, "device HTTP port")->capture_default_str();
    rec->add_option("-u,--user", record.user, "user name");
    rec->add_option("-w,--password", record.password, "password");
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

    CLI11_PARSE(app, argc, argv);
    host::InstallStopHandler();
    if (rec->parsed()) return host::RunRecord(record);
    return 2;
}
