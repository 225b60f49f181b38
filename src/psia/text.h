// Text helpers shared by the PSIA, RTSP and driver code. Texts are 8-bit
// strings without any character-set conversion.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#if defined(__GNUC__)
#define OMBRELIX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OMBRELIX_PRINTF(fmt, args)
#endif

namespace telvaro {

// An optional leading "+" or "-", then decimal digits and nothing else, with
// a value inside the signed 32-bit range. Anything else fails with value 0.
bool ParseDecimal(const std::string& text, int32_t& value);

// printf-style formatting into a text of exactly the length needed.
std::string FormatText(const char* format, ...) OMBRELIX_PRINTF(1, 2);
std::string FormatTextV(const char* format, va_list args);

}  // namespace telvaro
