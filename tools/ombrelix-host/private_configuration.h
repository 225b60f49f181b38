// The driver reads its configuration file (Ombrelix.xml) beside the host's
// executable. To give one run a transport or a file of its own without
// touching that lookup, the program runs a copy of itself from a private
// folder that holds the copy and the file.
#pragma once

#include <string>

#include "record_command.h"

namespace host {

struct PrivateConfiguration {
    std::string transport;  // udp, tcp or rtsp
    std::string file;       // a configuration file to use
};

// When a transport or file is asked for and this process is not that copy
// already: runs the copy with the same arguments, and true with its exit
// status. False: go on in this process.
bool RunInPrivateFolder(const PrivateConfiguration& configuration, RecordOptions& options, int argc, char** argv,
                        int& status);
// Whether this process is the copy in a private folder.
bool InPrivateFolder();
// The transport each channel of the device will use, from the file beside
// this program as the driver looks it up; a warning on standard error for a
// file that cannot be read or a mode the driver does not know.
std::string DescribeTransport(const RecordOptions& options, const PrivateConfiguration& configuration);

}  // namespace host
