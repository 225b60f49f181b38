// The two ways texts cross into wide-character Windows interfaces. WinHTTP
// takes the request's checked ASCII-safe bytes one character each and gives
// the answer's head back the same way; MSXML's texts go through the ANSI
// code page, both ways.
#pragma once

#include <string>
#include <string_view>

namespace telvaro {
namespace platform {

std::wstring WidenBytes(std::string_view text);
std::string NarrowBytes(const wchar_t* text, size_t length);

std::wstring WidenAnsi(std::string_view text);
std::string NarrowAnsi(const wchar_t* text, size_t length);

}  // namespace platform
}  // namespace telvaro
