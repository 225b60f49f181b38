// Small text, digest and encoding helpers of the camera simulator.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace camsim {

std::string Md5Hex(const std::string& text);  // RFC 1321, lower-case hex
std::string Base64Encode(const std::vector<uint8_t>& data);
// Stops at the first character outside the RFC 4648 alphabet ("=" included).
std::vector<uint8_t> Base64Decode(const std::string& text);
std::string HexEncode(const std::vector<uint8_t>& data, bool upper = false);
std::string RandomHex(size_t bytes);
uint32_t Random32();
std::string ToLower(std::string text);
std::string Trim(const std::string& text);
// Parameters of an authentication header after its scheme word: name=value
// and name="value" items separated by commas (quoted values may hold commas);
// names lower-cased.
std::map<std::string, std::string> ParseAuthParameters(const std::string& text);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// Decimal digits only (no sign, no blanks), fitting in 32 bits.
bool ParseUint(const std::string& text, uint32_t& value);

}  // namespace camsim
