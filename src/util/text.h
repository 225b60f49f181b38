// Text helpers shared by the PSIA, RTSP and driver code. Texts are 8-bit
// strings without any character-set conversion.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>
#include <vector>

#include "util/printf_format.h"


namespace telvaro {

// An optional leading "+" or "-", then decimal digits and nothing else, with
// a value inside the signed 32-bit range. Anything else fails with value 0.
bool ParseDecimal(const std::string& text, int32_t& value);

// printf-style formatting into a text of exactly the length needed.
std::string FormatText(const char* format, ...) OMBRELIX_PRINTF(1, 2);
std::string FormatTextV(const char* format, va_list args);

// Copy with the letters A to Z lower-cased.
std::string ToLower(const std::string& text);

// Copy without leading and trailing spaces and tabs.
std::string TrimBlanks(const std::string& text);

// Equal but for the case of the letters A to Z.
bool EqualsNoCase(const std::string& a, const char* b);

// tchar of RFC 7230 section 3.2.6, and a non-empty run of them (an HTTP or
// RTSP method, a header name, an auth-param name).
bool IsTokenChar(char c);
bool IsToken(const std::string& text);

// Without CR, LF and NUL, which would end a header line early and let the
// rest pass as header lines of its own.
bool FitsInHeader(const std::string& text);

// Copy without any character that occurs in chars.
std::string EraseChars(const std::string& chars, const std::string& text);

// Pieces between delimiters, read like successive lines: consecutive
// delimiters give empty pieces, a trailing delimiter gives no empty last
// piece, an empty text gives no pieces.
std::vector<std::string> SplitText(const std::string& text, char delimiter);

// Pairs of hexadecimal digits (either case) to bytes, first digit high. A
// character that is not a hex digit counts as 0; an odd final digit becomes
// a byte of its own value.
std::vector<uint8_t> HexToBytes(const std::string& text);

// Value of a "name<assignment>value" item of a delimited list such as
// 'Digest realm="x", nonce="y"' or "12345678;timeout=60". The item runs from
// after the last delimiter before an occurrence of name to the next
// delimiter; the text before the assignment, trimmed, must equal name. The
// value runs from after the assignment to the next delimiter or the end.
// Empty when no item matches.
std::string FindHeaderParam(const std::string& name, const std::string& assignment, const std::string& list,
                            const std::string& delimiters);

// Why credentials cannot go into any request, naming the field but never
// its value; empty when they can.
std::string CredentialFault(const std::string& userName, const std::string& password);

// First IPv4 address of a host name or dotted address, network byte order;
// 0 for an empty text or a failed look-up.


}  // namespace telvaro
