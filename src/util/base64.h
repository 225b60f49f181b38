// Base64 (RFC 4648 alphabet, "=" padding) with MIME line breaks, its
// decoding, and the HTTP/RTSP Basic credential built on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace telvaro {

// Output capacity that Base64Encode demands for length input bytes.
size_t Base64Capacity(size_t length);

// Encodes length bytes into output, a CR LF after every 76 characters but
// none after the last line; the output is not terminated. Refuses (false,
// nothing written) when capacity is below Base64Capacity(length). On
// success capacity holds the output length.
bool Base64Encode(const uint8_t* data, size_t length, char* output, size_t& capacity);

// Decodes the RFC 4648 alphabet; every other character ("=" padding
// included) is skipped, and a final group of n characters gives its top
// 6n/8 bytes.
std::vector<uint8_t> Base64Decode(const std::string& text);

// base64 of "user:password" for an Authorization header, on one line. On
// failure the text is emptied and false returned.
bool MakeBasicCredential(const std::string& userName, const std::string& password, std::string& credential);

}  // namespace telvaro
