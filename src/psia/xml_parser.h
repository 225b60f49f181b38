// One parsed XML document, loaded from a text or from a file next to the
// executable, answering path queries with plain texts. Every operation holds
// the parser's own lock.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml_document.h"
#include "thread/recursive_lock.h"

namespace telvaro {

class CXMLParser {
public:
    CXMLParser();
    virtual ~CXMLParser();
    CXMLParser(const CXMLParser&) = delete;
    CXMLParser& operator=(const CXMLParser&) = delete;

    // A parser holding the document, or null when the text is not
    // well-formed XML.
    static std::unique_ptr<CXMLParser> ParseDocument(std::string_view text);

    // False, keeping what is loaded, when a document is loaded already. A
    // non-empty namespace declaration (prefix bindings for the paths) is
    // refused: paths are written without prefixes.
    bool LoadText(std::string_view text, const std::string& namespaces);
    // Loads a file named relative to the executable's directory.
    bool LoadFile(const std::string& fileName);
    // Full path of a file name: the executable's directory followed by the
    // name; empty for an empty name.
    std::string ResolvePath(const std::string& fileName);
    void Unload();

    // Paths are XPath location paths from the document node, e.g.
    // "StreamingChannel/Video/videoCodecType". Without a document, or without
    // a match, the answers are false, empty or an empty list.
    bool NodeExists(const std::string& path);
    // Value of the first child of the first selected node: the leading text
    // of an element.
    std::string NodeText(const std::string& path);
    // NodeText of every selected node in document order; nodes without a
    // child are left out.
    std::vector<std::string> NodeTexts(const std::string& path);
    std::string NodeAttribute(const std::string& path, const std::string& name);

    bool IsLoaded();
    // Full path of the loaded file; empty for a text document.
    std::string FilePath();

private:
    CRecursiveLock lock_;
    platform::XmlDocument document_;
    bool loaded_ = false;
    std::string baseDirectory_;
    std::string filePath_;
};

}  // namespace telvaro
