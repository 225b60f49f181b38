#include "psia/xml_parser.h"

#include "platform/process.h"

namespace telvaro {

CXMLParser::CXMLParser() = default;

CXMLParser::~CXMLParser() { Unload(); }

std::unique_ptr<CXMLParser> CXMLParser::ParseDocument(std::string_view text) {
    auto parser = std::make_unique<CXMLParser>();
    if (!parser->LoadText(text, std::string())) return nullptr;
    return parser;
}

bool CXMLParser::LoadText(std::string_view text, const std::string& namespaces) {
    CLockScope scope(lock_);
    if (loaded_) return false;
    if (!namespaces.empty()) return false;
    if (!document_.LoadText(text)) return false;
    loaded_ = true;
    return true;
}

std::string CXMLParser::ResolvePath(const std::string& fileName) {
    CLockScope scope(lock_);
    if (fileName.empty()) return std::string();
    if (baseDirectory_.empty()) {
        baseDirectory_ = platform::ExecutableDirectory();
        if (baseDirectory_.empty()) return std::string();
    } else if (baseDirectory_.back() != platform::kPathSeparator) {
        baseDirectory_.push_back(platform::kPathSeparator);
    }
    return baseDirectory_ + fileName;
}

bool CXMLParser::LoadFile(const std::string& fileName) {
    CLockScope scope(lock_);
    std::string path = ResolvePath(fileName);
    if (path.empty() || !platform::FileExists(path)) return false;
    if (loaded_) return false;
    if (!document_.LoadFile(path)) return false;
    loaded_ = true;
    filePath_ = path;
    return true;
}

void CXMLParser::Unload() {
    CLockScope scope(lock_);
    if (!loaded_) return;
    document_.Clear();
    loaded_ = false;
    filePath_.clear();
}

bool CXMLParser::NodeExists(const std::string& path) {
    CLockScope scope(lock_);
    return loaded_ && document_.Exists(path);
}

std::string CXMLParser::NodeText(const std::string& path) {
    CLockScope scope(lock_);
    std::string value;
    if (loaded_) document_.FirstChildValue(path, value);
    return value;
}

std::vector<std::string> CXMLParser::NodeTexts(const std::string& path) {
    CLockScope scope(lock_);
    if (!loaded_) return std::vector<std::string>();
    return document_.FirstChildValues(path);
}

std::string CXMLParser::NodeAttribute(const std::string& path, const std::string& name) {
    CLockScope scope(lock_);
    std::string value;
    if (loaded_) document_.Attribute(path, name, value);
    return value;
}

bool CXMLParser::IsLoaded() {
    CLockScope scope(lock_);
    return loaded_;
}

std::string CXMLParser::FilePath() {
    CLockScope scope(lock_);
    return filePath_;
}

}  // namespace telvaro
