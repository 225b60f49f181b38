#include "psia/xml_parser.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"

namespace {

using telvaro::CXMLParser;

const char kStreamingChannel[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
    "<StreamingChannel version=\"1.0\" xmlns=\"urn:psialliance-org\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n"
    "  <id>101</id>\n"
    "  <channelName>Camera 01</channelName>\n"
    "  <enabled>true</enabled>\n"
    "  <Transport>\n"
    "    <rtspPortNo>554</rtspPortNo>\n"
    "    <ControlProtocolList>\n"
    "      <ControlProtocol><streamingTransport>RTSP</streamingTransport></ControlProtocol>\n"
    "      <ControlProtocol><streamingTransport>HTTP</streamingTransport></ControlProtocol>\n"
    "    </ControlProtocolList>\n"
    "  </Transport>\n"
    "  <Video>\n"
    "    <enabled>true</enabled>\n"
    "    <videoCodecType opt=\"H.264,MJPEG\">H.264</videoCodecType>\n"
    "    <videoResolutionWidth>1920</videoResolutionWidth>\n"
    "    <empty></empty>\n"
    "    <nested><inner>x</inner></nested>\n"
    "    <commented><!-- note -->after</commented>\n"
    "    <cdata><![CDATA[a<b]]></cdata>\n"
    "    <escaped>a &amp; b &lt;c&gt;</escaped>\n"
    "  </Video>\n"
    "</StreamingChannel>\n";

TEST(XMLParser, AnswersUnprefixedPathsInThePsiaNamespace) {
    auto parser = CXMLParser::ParseDocument(kStreamingChannel);
    ASSERT_TRUE(parser);
    EXPECT_TRUE(parser->NodeExists("StreamingChannel/id"));
    EXPECT_EQ(parser->NodeText("StreamingChannel/id"), "101");
    EXPECT_EQ(parser->NodeText("StreamingChannel/Video/videoCodecType"), "H.264");
    EXPECT_EQ(parser->NodeAttribute("StreamingChannel/Video/videoCodecType", "opt"), "H.264,MJPEG");
    EXPECT_EQ(parser->NodeAttribute("StreamingChannel", "version"), "1.0");
    EXPECT_EQ(parser->NodeAttribute("StreamingChannel/Video/videoCodecType", "min"), "");
    EXPECT_EQ(parser->NodeTexts("StreamingChannel/Transport/ControlProtocolList/ControlProtocol/streamingTransport"),
              (std::vector<std::string>{"RTSP", "HTTP"}));
    EXPECT_FALSE(parser->NodeExists("streamingchannel/id"));
    EXPECT_FALSE(parser->NodeExists("id"));
}

TEST(XMLParser, NodeTextIsTheFirstChildsValue) {
    auto parser = CXMLParser::ParseDocument(kStreamingChannel);
    ASSERT_TRUE(parser);
    struct Case {
        const char* path;
        const char* text;
    } cases[] = {
        {"StreamingChannel/Video/empty", ""},
        {"StreamingChannel/Video/nested", ""},  // first child is an element
        {"StreamingChannel/Video/nested/inner", "x"},
        {"StreamingChannel/Video/commented", " note "},
        {"StreamingChannel/Video/cdata", "a<b"},
        {"StreamingChannel/Video/escaped", "a & b <c>"},
        {"StreamingChannel/Video", "\n    "},  // leading blank text is kept
        {"StreamingChannel/Video/missing", ""},
        {"StreamingChannel/@version", "1.0"},
        {"StreamingChannel/[", ""},  // not a valid path
        {"count(StreamingChannel)", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(parser->NodeText(c.path), c.text) << c.path;
    EXPECT_TRUE(parser->NodeExists("StreamingChannel/Video/empty"));
    EXPECT_FALSE(parser->NodeExists("StreamingChannel/["));
    // Nodes without a child add nothing; an element child adds an empty text.
    EXPECT_EQ(parser->NodeTexts("StreamingChannel/Video/*"),
              (std::vector<std::string>{"true", "H.264", "1920", "", " note ", "a<b", "a & b <c>"}));
    EXPECT_TRUE(parser->NodeTexts("StreamingChannel/none").empty());
}

TEST(XMLParser, NodeTextsSkipsNodesWithoutChildren) {
    auto parser = CXMLParser::ParseDocument("<L><i>1</i><i/><i><x/></i><i>4</i></L>");
    ASSERT_TRUE(parser);
    EXPECT_EQ(parser->NodeTexts("L/i"), (std::vector<std::string>{"1", "", "4"}));
}

TEST(XMLParser, RefusesTextThatIsNotWellFormed) {
    const char* bad[] = {
        "",          "   ",          "<a>",          "<a></b>",     "<a x=1/>",
        "<a/><b/>",  "junk<a/>",     "<a/>junk",     "<a b='1' b='2'/>", "<?xml version=\"1.0\"?>",
        "<1a/>",     "HTTP/1.1 200", "<a><b></a></b>",
    };
    for (const char* text : bad) EXPECT_FALSE(CXMLParser::ParseDocument(text)) << "[" << text << "]";
    EXPECT_TRUE(CXMLParser::ParseDocument("\xef\xbb\xbf<a/>\n<!-- trailing -->\n"));
}

TEST(XMLParser, LoadsOnceUntilUnloaded) {
    CXMLParser parser;
    EXPECT_EQ(parser.NodeText("a"), "");
    EXPECT_FALSE(parser.NodeExists("a"));
    ASSERT_TRUE(parser.LoadText("<a>1</a>", ""));
    EXPECT_FALSE(parser.LoadText("<a>2</a>", ""));
    EXPECT_EQ(parser.NodeText("a"), "1");
    parser.Unload();
    EXPECT_FALSE(parser.IsLoaded());
    EXPECT_EQ(parser.NodeText("a"), "");
    EXPECT_FALSE(parser.LoadText("<a>3</a>", "xmlns:p='urn:psialliance-org'"));
    ASSERT_TRUE(parser.LoadText("<a>3</a>", ""));
    EXPECT_EQ(parser.NodeText("a"), "3");
}

TEST(XMLParser, LoadsFilesNextToTheExecutable) {
    CXMLParser parser;
    const std::string directory = telvaro::platform::ExecutableDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_EQ(parser.ResolvePath(""), "");
    const std::string name = "xml_parser_test_" + std::to_string(getpid()) + ".xml";
    EXPECT_EQ(parser.ResolvePath(name), directory + name);

    EXPECT_FALSE(parser.LoadFile(name));
    EXPECT_FALSE(parser.IsLoaded());
    {
        std::ofstream file(directory + name, std::ios::binary);
        file << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Configuration><n>caf\xe9</n></Configuration>";
    }
    ASSERT_TRUE(parser.LoadFile(name));
    EXPECT_EQ(parser.FilePath(), directory + name);
#if defined(_WIN32)
    // Texts come back in the ANSI code page (Windows-1252 here).
    EXPECT_EQ(parser.NodeText("Configuration/n"), "caf\xe9");
#else
    EXPECT_EQ(parser.NodeText("Configuration/n"), "caf\xc3\xa9");
#endif
    EXPECT_FALSE(parser.LoadFile(name));
    parser.Unload();
    EXPECT_EQ(parser.FilePath(), "");
    std::remove((directory + name).c_str());
}

}  // namespace
