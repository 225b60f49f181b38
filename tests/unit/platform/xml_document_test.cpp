// Path selection of the XML document every backend gives (pugixml, MSXML).
#include "platform/xml_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using telvaro::platform::XmlDocument;

// A default namespace, a prefixed one, comments, blanks, an empty element,
// attributes and an escaped text.
const char kDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<List xmlns=\"urn:psialliance-org\" xmlns:x=\"urn:extra\" version=\"1.0\">\n"
    "  <!-- first -->\n"
    "  <Item id=\"1\"><name>one</name><x:tag>ext</x:tag></Item>\n"
    "  <Item id=\"2\"><name></name></Item>\n"
    "  <Item id=\"3\"><name>a &amp; b</name></Item>\n"
    "</List>\n";

TEST(XmlDocument, PathsSelectAsWrittenWhateverTheDefaultNamespace) {
    XmlDocument doc;
    ASSERT_TRUE(doc.LoadText(kDocument));
    ASSERT_TRUE(doc.IsLoaded());
    struct Case {
        const char* path;
        bool exists;
        const char* first;  // nullptr: no first child value
        std::vector<std::string> all;
    } cases[] = {
        {"/List/Item/name", true, "one", {"one", "a & b"}},
        {"/List/Item[@id='3']/name", true, "a & b", {"a & b"}},
        // No positional predicate: the driver asks none, and MSXML's default
        // selection language counts them from 0 where XPath counts from 1.
        {"/List/Item/@id", true, "1", {"1", "2", "3"}},
        {"//name", true, "one", {"one", "a & b"}},
        {"/List/Item/tag", false, nullptr, {}},
        {"/List/Missing", false, nullptr, {}},
        {"/List/Item[", false, nullptr, {}},  // not an expression
        {"", false, nullptr, {}},
    };
    for (const Case& c : cases) {
        std::string value = "stale";
        EXPECT_EQ(doc.Exists(c.path), c.exists) << c.path;
        EXPECT_EQ(doc.FirstChildValue(c.path, value), c.first != nullptr) << c.path;
        EXPECT_EQ(value, c.first ? c.first : "") << c.path;
        EXPECT_EQ(doc.FirstChildValues(c.path), c.all) << c.path;
    }
    std::string value;
    EXPECT_TRUE(doc.Attribute("/List/Item[name='a & b']", "id", value));
    EXPECT_EQ(value, "3");
    EXPECT_TRUE(doc.Attribute("/List", "version", value));
    EXPECT_EQ(value, "1.0");
    EXPECT_FALSE(doc.Attribute("/List/Item", "missing", value));
    EXPECT_FALSE(doc.Attribute("/List/Item/@id", "id", value));
}

TEST(XmlDocument, TextThatIsNotWellFormedLeavesNothingLoaded) {
    for (const char* text : {"", "<a>", "<a></b>", "<a/><b/>", "text", "<a x='1' x='2'/>"}) {
        XmlDocument doc;
        ASSERT_TRUE(doc.LoadText("<old>1</old>"));
        EXPECT_FALSE(doc.LoadText(text)) << text;
        EXPECT_FALSE(doc.IsLoaded()) << text;
        EXPECT_FALSE(doc.Exists("/old")) << text;
    }
}

}  // namespace
