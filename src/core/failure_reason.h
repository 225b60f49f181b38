// Why an exchange with the camera or a packet of its stream failed, for a
// log: the kind of failure and a short text that names the cause. The RTSP
// and PSIA clients and the depacketizers keep the one they met; the channels
// tell the host. A text names one cause the same way every time, so that a
// cause met again is known as the same one.
#pragma once

#include <cstdint>
#include <string>

namespace telvaro {

enum FailureKind : int32_t {
    kFailureNone = 0,
    kFailureNoAnswer,     // no connection, or an answer that did not come, came late or was cut short
    kFailureRefused,      // the peer refused: the connection, a status, a transport, the credentials
    kFailureMalformed,    // bytes from the peer that cannot be read
    kFailureUnsupported,  // a well-formed form this driver does not handle
    kFailureOutOfOrder,   // parts of a frame that do not follow each other
    kFailureIncomplete,   // something the stream needs never came: tables, parameter sets, configuration
    kFailureTooLarge,     // beyond a size bound
    kFailureBadSetting,   // a setting of the host's that cannot be used
    kFailureNotResolved,  // the camera's host name is not known
};

struct FailureReason {
    FailureKind kind = kFailureNone;
    std::string text;  // never a password or an Authorization value

    bool Empty() const { return kind == kFailureNone; }
};

}  // namespace telvaro
