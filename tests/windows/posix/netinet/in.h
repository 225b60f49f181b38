// sockaddr_in and the byte-order functions under their POSIX header name.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
