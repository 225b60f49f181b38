// A parsed XML document with path selection (XPath 1.0 location paths
// evaluated from the document node). Unprefixed names match elements as
// written, whatever default namespace the document declares. Texts are
// bytes: element and attribute values come back as the document spells them.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace telvaro {
namespace platform {

class XmlDocument {
public:
    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // Parses text as given, without consulting its encoding declaration;
    // comments, processing instructions and blank text nodes are kept.
    // False, with nothing loaded, when the text is not well-formed.
    bool LoadText(std::string_view text);
    // Reads and parses a file, honouring its byte-order mark and encoding
    // declaration.
    bool LoadFile(const std::string& path);
    void Clear();
    bool IsLoaded() const;

    // The queries answer nothing for a path that is not a valid expression.
    bool Exists(const std::string& path) const;
    // Value of the first child of the first selected node (for a selected
    // attribute: its value). False when nothing is selected or the node has
    // no child.
    bool FirstChildValue(const std::string& path, std::string& value) const;
    // FirstChildValue of every selected node in document order, skipping
    // nodes without a child.
    std::vector<std::string> FirstChildValues(const std::string& path) const;
    // Named attribute of the first selected element.
    bool Attribute(const std::string& path, const std::string& name, std::string& value) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform
}  // namespace telvaro
