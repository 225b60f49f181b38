// The Windows tests' main: Winsock is registered for the whole run, as a
// started channel registers it for the driver's threads; Linux needs nothing.
#include <gtest/gtest.h>

#include "platform/socket.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!telvaro::platform::SocketStartup()) return 2;
    int result = RUN_ALL_TESTS();
    telvaro::platform::SocketCleanup();
    return result;
}
