#include "util/auth_params.h"

#include "util/text.h"

namespace telvaro {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void SkipBlanks(const std::string& text, size_t& pos) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
}

std::string ReadValue(const std::string& text, size_t& pos) {
    std::string value;
    if (pos < text.size() && text[pos] == '"') {
        for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
            if (text[pos] == '\\' && pos + 1 < text.size()) ++pos;
            value += text[pos];
        }
        if (pos < text.size()) ++pos;
        return value;
    }
    const size_t start = pos;
    while (pos < text.size() && text[pos] != ',') ++pos;
    return TrimBlanks(text.substr(start, pos - start));
}

}  // namespace

std::string ReadToken(const std::string& text, size_t& pos) {
    const size_t start = pos;
    while (pos < text.size() && IsTokenChar(text[pos])) ++pos;
    return text.substr(start, pos - start);
}

std::vector<AuthParam> ReadAuthParams(const std::string& text, size_t& pos) {
    std::vector<AuthParam> params;
    for (;;) {
        while (pos < text.size() && (IsBlank(text[pos]) || text[pos] == ',')) ++pos;
        if (pos >= text.size()) return params;
        const size_t start = pos;
        const std::string name = ReadToken(text, pos);
        if (name.empty()) {
            ++pos;
            continue;
        }
        size_t after = pos;
        SkipBlanks(text, after);
        if (after >= text.size() || text[after] != '=') {
            pos = start;
            return params;
        }
        pos = after + 1;
        SkipBlanks(text, pos);
        std::string value = ReadValue(text, pos);
        params.push_back({ToLower(name), std::move(value)});
    }
}

}  // namespace telvaro
