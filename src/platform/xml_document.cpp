#include "platform/xml_document.h"

#include <pugixml.hpp>

#include <string_view>
#include <unordered_set>

namespace telvaro {
namespace platform {

namespace {

// Keep what a DOM keeps, so that "first child" means the same node. Text
// beside the root element is kept too, so that IsWellFormed can refuse it.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_comments |
                                   pugi::parse_pi | pugi::parse_declaration | pugi::parse_fragment;

// Null on an invalid expression.
std::unique_ptr<pugi::xpath_query> Compile(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) return nullptr;
    try {
        return std::make_unique<pugi::xpath_query>(path.c_str());
    } catch (const pugi::xpath_exception&) {
        return nullptr;
    }
}

bool ChildValue(const pugi::xpath_node& selected, std::string& value) {
    if (selected.attribute()) {
        value = selected.attribute().value();
        return true;
    }
    pugi::xml_node child = selected.node().first_child();
    if (!child) return false;
    value = child.value();
    return true;
}

bool HasDuplicateAttribute(const pugi::xml_node& element) {
    pugi::xml_attribute first = element.first_attribute();
    if (!first || !first.next_attribute()) return false;
    std::unordered_set<std::string_view> names;
    for (pugi::xml_attribute a = first; a; a = a.next_attribute()) {
        if (!names.insert(std::string_view(a.name())).second) return true;
    }
    return false;
}

// The parser is lenient where XML is not: it takes several root elements,
// text beside the root element and repeated attributes. Such documents are
// refused here, as a validating DOM would refuse them. The walk is iterative
// so that deep nesting cannot exhaust the stack.
bool IsWellFormed(const pugi::xml_document& document) {
    int roots = 0;
    for (pugi::xml_node node = document.first_child(); node; node = node.next_sibling()) {
        if (node.type() == pugi::node_element) ++roots;
        if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
            if (std::string(node.value()).find_first_not_of(" \t\r\n") != std::string::npos) return false;
        }
    }
    if (roots != 1) return false;
    pugi::xml_node root = document.document_element();
    pugi::xml_node node = root;
    while (node) {
        if (node.type() == pugi::node_element && HasDuplicateAttribute(node)) return false;
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != root && !node.next_sibling()) node = node.parent();
        if (!node || node == root) break;
        node = node.next_sibling();
    }
    return true;
}

}  // namespace

struct XmlDocument::Impl {
    pugi::xml_document document;
    bool loaded = false;

    // Expressions that give a number, text or boolean select nothing.
    pugi::xpath_node First(const std::string& path) const {
        if (!loaded) return pugi::xpath_node();
        auto query = Compile(path);
        if (!query || query->return_type() != pugi::xpath_type_node_set) return pugi::xpath_node();
        try {
            return query->evaluate_node(document);
        } catch (const pugi::xpath_exception&) {
            return pugi::xpath_node();
        }
    }

    pugi::xpath_node_set All(const std::string& path) const {
        if (!loaded) return pugi::xpath_node_set();
        auto query = Compile(path);
        if (!query || query->return_type() != pugi::xpath_type_node_set) return pugi::xpath_node_set();
        try {
            pugi::xpath_node_set selected = query->evaluate_node_set(document);
            selected.sort();
            return selected;
        } catch (const pugi::xpath_exception&) {
            return pugi::xpath_node_set();
        }
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() = default;

bool XmlDocument::LoadText(std::string_view text) {
    Clear();
    pugi::xml_parse_result result =
        impl_->document.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
    if (!result || !IsWellFormed(impl_->document)) {
        impl_->document.reset();
        return false;
    }
    impl_->loaded = true;
    return true;
}

bool XmlDocument::LoadFile(const std::string& path) {
    Clear();
    pugi::xml_parse_result result = impl_->document.load_file(path.c_str(), kParseOptions, pugi::encoding_auto);
    if (!result || !IsWellFormed(impl_->document)) {
        impl_->document.reset();
        return false;
    }
    impl_->loaded = true;
    return true;
}

void XmlDocument::Clear() {
    impl_->document.reset();
    impl_->loaded = false;
}

bool XmlDocument::IsLoaded() const { return impl_->loaded; }

bool XmlDocument::Exists(const std::string& path) const { return static_cast<bool>(impl_->First(path)); }

bool XmlDocument::FirstChildValue(const std::string& path, std::string& value) const {
    value.clear();
    pugi::xpath_node selected = impl_->First(path);
    if (!selected) return false;
    return ChildValue(selected, value);
}

std::vector<std::string> XmlDocument::FirstChildValues(const std::string& path) const {
    std::vector<std::string> values;
    pugi::xpath_node_set selected = impl_->All(path);
    for (const pugi::xpath_node& node : selected) {
        std::string value;
        if (ChildValue(node, value)) values.push_back(value);
    }
    return values;
}

bool XmlDocument::Attribute(const std::string& path, const std::string& name, std::string& value) const {
    value.clear();
    pugi::xpath_node selected = impl_->First(path);
    if (!selected || selected.attribute() || name.empty()) return false;
    pugi::xml_attribute attribute = selected.node().attribute(name.c_str());
    if (!attribute) return false;
    value = attribute.value();
    return true;
}

}  // namespace platform
}  // namespace telvaro
