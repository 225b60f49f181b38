// The Winsock declarations of the socket calls that the shared tests make by
// their POSIX header names (getpeername, socklen_t ...).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
