// MD5 message digest (RFC 1321), used for HTTP and RTSP Digest
// authentication.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace telvaro {

constexpr size_t kMd5DigestSize = 16;

// Digest of length bytes at data.
void Md5Digest(const void* data, size_t length, uint8_t digest[kMd5DigestSize]);

// Digest of the text's bytes as 32 lower-case hexadecimal digits.
std::string Md5Hex(const std::string& text);

}  // namespace telvaro
