#include "platform/xml_document.h"

#include <windows.h>
#include <msxml2.h>
#include <oleauto.h>

#include "platform/wide_text_win32.h"

namespace telvaro {
namespace platform {

namespace {

// DOMDocument 3.0 and its IXMLDOMDocument2 interface.
const CLSID kDomDocument30 = {0xF5078F32, 0xC551, 0x11D3, {0x89, 0xB9, 0x00, 0x00, 0xF8, 0x1F, 0xE2, 0x21}};
const IID kXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;

    T** Out() {
        Reset();
        return &p_;
    }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    void Reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : s_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~Bstr() { SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return s_; }

private:
    BSTR s_;
};

// nodeValue of a node: its text for text-like nodes and attributes, empty
// for elements and the document.
std::string NodeValue(IXMLDOMNode* node) {
    VARIANT value;
    VariantInit(&value);
    std::string result;
    if (SUCCEEDED(node->get_nodeValue(&value)) && value.vt == VT_BSTR && value.bstrVal) {
        result = NarrowAnsi(value.bstrVal, SysStringLen(value.bstrVal));
    }
    VariantClear(&value);
    return result;
}

// Value of the first child of a selected node; false when it has none.
bool FirstChildOf(IXMLDOMNode* node, std::string& value) {
    ComRef<IXMLDOMNode> child;
    if (node->get_firstChild(child.Out()) != S_OK || !child) return false;
    value = NodeValue(child.Get());
    return true;
}

// Brackets, parentheses and quotes close in order. Wine's MSXML faults on an
// unclosed predicate instead of refusing it, so such a path never reaches
// the DOM; a well-formed one that is still not valid is refused there.
bool Balanced(const std::string& path) {
    std::string open;
    char quote = 0;
    for (char c : path) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '[' || c == '(') {
            open.push_back(c == '[' ? ']' : ')');
        } else if (c == ']' || c == ')') {
            if (open.empty() || open.back() != c) return false;
            open.pop_back();
        }
    }
    return !quote && open.empty();
}

}  // namespace

struct XmlDocument::Impl {
    ComRef<IXMLDOMDocument2> document;
    bool comStarted = false;  // this load initialised COM on its thread

    // COM on the calling thread and an empty DOM document set up as the
    // driver reads documents.
    bool Create() {
        HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        // A thread of the host's that runs in a single-threaded apartment can
        // create the document all the same.
        if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) return false;
        comStarted = SUCCEEDED(hr);
        if (FAILED(CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kXmlDomDocument2,
                                    reinterpret_cast<void**>(document.Out()))) ||
            !document) {
            Release();
            return false;
        }
        document->put_async(VARIANT_FALSE);
        document->put_preserveWhiteSpace(VARIANT_TRUE);
        // Nothing is fetched or validated: a document is read as it stands.
        document->put_resolveExternals(VARIANT_FALSE);
        document->put_validateOnParse(VARIANT_FALSE);
        return true;
    }

    void Release() {
        document.Reset();
        if (comStarted) CoUninitialize();
        comStarted = false;
    }

    // Selects with the document's default selection language (XSLPattern in
    // DOMDocument 3.0), where an unprefixed step matches an element of that
    // name in any default namespace. Null when nothing matches or the path
    // is not a valid expression.
    bool First(const std::string& path, ComRef<IXMLDOMNode>& node) const {
        if (!document || path.empty() || !Balanced(path)) return false;
        Bstr query(WidenAnsi(path));
        return document->selectSingleNode(query.Get(), node.Out()) == S_OK && node;
    }
};

XmlDocument::XmlDocument() : impl_(std::make_unique<Impl>()) {}

XmlDocument::~XmlDocument() { Clear(); }

bool XmlDocument::LoadText(std::string_view text) {
    Clear();
    if (!impl_->Create()) return false;
    // A UTF-8 byte-order mark would come through the ANSI code page as three
    // characters before the document; it is dropped, as on Linux.
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    Bstr xml(WidenAnsi(text));
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(impl_->document->loadXML(xml.Get(), &ok)) || ok != VARIANT_TRUE) {
        impl_->Release();
        return false;
    }
    return true;
}

bool XmlDocument::LoadFile(const std::string& path) {
    Clear();
    if (!impl_->Create()) return false;
    Bstr name(WidenAnsi(path));
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = name.Get();
    VARIANT_BOOL ok = VARIANT_FALSE;
    if (FAILED(impl_->document->load(source, &ok)) || ok != VARIANT_TRUE) {
        impl_->Release();
        return false;
    }
    return true;
}

void XmlDocument::Clear() { impl_->Release(); }

bool XmlDocument::IsLoaded() const { return static_cast<bool>(impl_->document); }

bool XmlDocument::Exists(const std::string& path) const {
    ComRef<IXMLDOMNode> node;
    return impl_->First(path, node);
}

bool XmlDocument::FirstChildValue(const std::string& path, std::string& value) const {
    value.clear();
    ComRef<IXMLDOMNode> node;
    if (!impl_->First(path, node)) return false;
    return FirstChildOf(node.Get(), value);
}

std::vector<std::string> XmlDocument::FirstChildValues(const std::string& path) const {
    std::vector<std::string> values;
    if (!impl_->document || path.empty() || !Balanced(path)) return values;
    Bstr query(WidenAnsi(path));
    ComRef<IXMLDOMNodeList> list;
    if (impl_->document->selectNodes(query.Get(), list.Out()) != S_OK || !list) return values;
    long length = 0;
    if (FAILED(list->get_length(&length))) return values;
    for (long i = 0; i < length; ++i) {
        ComRef<IXMLDOMNode> node;
        if (list->get_item(i, node.Out()) != S_OK || !node) continue;
        std::string value;
        if (FirstChildOf(node.Get(), value)) values.push_back(value);
    }
    return values;
}

bool XmlDocument::Attribute(const std::string& path, const std::string& name, std::string& value) const {
    value.clear();
    if (name.empty()) return false;
    ComRef<IXMLDOMNode> node;
    if (!impl_->First(path, node)) return false;
    ComRef<IXMLDOMNamedNodeMap> attributes;
    if (node->get_attributes(attributes.Out()) != S_OK || !attributes) return false;
    Bstr attributeName(WidenAnsi(name));
    ComRef<IXMLDOMNode> attribute;
    if (attributes->getNamedItem(attributeName.Get(), attribute.Out()) != S_OK || !attribute) return false;
    value = NodeValue(attribute.Get());
    return true;
}

}  // namespace platform
}  // namespace telvaro
