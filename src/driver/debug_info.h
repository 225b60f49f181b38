// One debug message on its way to the host's sink.
#pragma once

#include <cstdint>

#include "ombrelix/host.h"

namespace telvaro {

class CDebugInfo : public CDebugInfoIf {
    OMBRELIX_DESTRUCTOR_SLOT(CDebugInfo)
public:
    CDebugInfo(uint8_t level, const char* text);
    virtual ~CDebugInfo();
    CDebugInfo(const CDebugInfo&) = delete;
    CDebugInfo& operator=(const CDebugInfo&) = delete;

    uint8_t GetLevel() const override { return level_; }
    const char* GetText() const override { return text_; }

private:
    uint8_t level_;
    char* text_;  // owned copy; null for an empty text
};

}  // namespace telvaro
