#include "platform/wide_text_win32.h"

#include <windows.h>

namespace telvaro {
namespace platform {

std::wstring WidenBytes(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
    return wide;
}

std::string NarrowBytes(const wchar_t* text, size_t length) {
    std::string narrow;
    narrow.reserve(length);
    for (size_t i = 0; i < length; ++i) narrow.push_back(static_cast<char>(text[i] & 0xFF));
    return narrow;
}

std::wstring WidenAnsi(std::string_view text) {
    if (text.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string NarrowAnsi(const wchar_t* text, size_t length) {
    if (!text || length == 0) return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), &narrow[0], n, nullptr, nullptr);
    return narrow;
}

}  // namespace platform
}  // namespace telvaro
