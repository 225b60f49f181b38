#include "driver/debug_info.h"

#include <cstring>

namespace telvaro {

CDebugInfo::CDebugInfo(uint8_t level, const char* text) : level_(level), text_(nullptr) {
    if (text && *text) {
        size_t length = std::strlen(text);
        text_ = new char[length + 1];
        std::memcpy(text_, text, length + 1);
    }
}

CDebugInfo::~CDebugInfo() { delete[] text_; }

}  // namespace telvaro
