#include "util/text.h"

#include "platform/socket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using telvaro::EraseChars;
using telvaro::FindHeaderParam;
using telvaro::FormatText;
using telvaro::HexToBytes;
using telvaro::SplitText;
using telvaro::ToLower;
using telvaro::TrimBlanks;

TEST(TextHelpers, LowerTrimAndErase) {
    EXPECT_EQ(ToLower("RTSP/1.0 Content-BASE: X9"), "rtsp/1.0 content-base: x9");
    EXPECT_EQ(ToLower(std::string("\xC4Z", 2)), std::string("\xC4z", 2));

    struct Trim {
        const char* in;
        const char* out;
    } trims[] = {{"", ""}, {" \t ", ""}, {"\t a b \t", "a b"}, {"x", "x"}, {" \r\n", "\r\n"}};
    for (const auto& t : trims) EXPECT_EQ(TrimBlanks(t.in), t.out) << "[" << t.in << "]";

    EXPECT_EQ(EraseChars("\"", "\"abc\" \"d\""), "abc d");
    EXPECT_EQ(EraseChars("\r\n ", "a\r\nb c"), "abc");
    EXPECT_EQ(EraseChars("", "same"), "same");
}

TEST(TextHelpers, SplitTextReadsDelimitedLines) {
    struct Case {
        std::string text;
        char delimiter;
        std::vector<std::string> pieces;
    } cases[] = {
        {"", ';', {}},
        {"a", ';', {"a"}},
        {"a;b", ';', {"a", "b"}},
        {"a;b;", ';', {"a", "b"}},
        {"a;;b", ';', {"a", "", "b"}},
        {";", ';', {""}},
        {";;", ';', {"", ""}},
        {";a;;", ';', {"", "a", ""}},
        {"1;554;VBR,CBR;32;8192;", ';', {"1", "554", "VBR,CBR", "32", "8192"}},
        {"H.264,MPEG4,MJPEG", ',', {"H.264", "MPEG4", "MJPEG"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitText(c.text, c.delimiter), c.pieces) << "[" << c.text << "]";
}

TEST(TextHelpers, HexToBytesPairsDigits) {
    struct Case {
        std::string text;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"", {}},
        {"00ff", {0x00, 0xff}},
        {"4D40", {0x4d, 0x40}},
        {"aBc", {0xab, 0x0c}},
        {"zz1g", {0x00, 0x10}},
        {"000001b0f5", {0x00, 0x00, 0x01, 0xb0, 0xf5}},
    };
    for (const auto& c : cases) EXPECT_EQ(HexToBytes(c.text), c.bytes) << c.text;
}

TEST(TextHelpers, FindHeaderParamOnRealHeaderLines) {
    const std::string digest =
        "Digest realm=\"IP Camera(C6153)\", nonce=\"4e6a4d354e5445324e44413662376131\", cnonce=\"abc\", "
        "stale=\"FALSE\", qop=\"auth\"";
    const std::string session = "1234ABCD;timeout=60";
    struct Case {
        const char* name;
        const char* assignment;
        const std::string* list;
        const char* delimiters;
        std::string value;
    } cases[] = {
        {"realm", "=", &digest, ", ", "\"IP"},  // a blank inside the value ends it with these delimiters
        {"realm", "=", &digest, ",", ""},       // the item holds "Digest realm", which is not the name
        {"nonce", "=", &digest, ",", "\"4e6a4d354e5445324e44413662376131\""},
        {"cnonce", "=", &digest, ",", "\"abc\""},
        {"qop", "=", &digest, ",", "\"auth\""},
        {"stale", "=", &digest, ", ", "\"FALSE\""},
        {"opaque", "=", &digest, ",", ""},
        {"timeout", "=", &session, ";", "60"},
        {"1234ABCD", "=", &session, ";", ""},
        {"", "=", &session, ";", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindHeaderParam(c.name, c.assignment, *c.list, c.delimiters), c.value) << c.name;
    }
    EXPECT_EQ(FindHeaderParam("url", "=", "url=rtsp://cam/track1;seq=4;rtptime=9", ";"), "rtsp://cam/track1");
    EXPECT_EQ(FindHeaderParam("seq", "=", "url=rtsp://cam/track1;seq=4;rtptime=9", ";"), "4");
    EXPECT_EQ(FindHeaderParam("rtptime", "=", "url=rtsp://cam/track1;seq=4;rtptime=9", ";"), "9");
    EXPECT_EQ(FindHeaderParam("a", ": ", "x: 1\r\na: 2\r\n", "\r\n"), "2");
}

TEST(TextHelpers, FormatTextHasTheExactLength) {
    std::string long_text(5000, 'y');
    std::string formatted = FormatText("<%s>%u", long_text.c_str(), 42u);
    EXPECT_EQ(formatted.size(), 5004u);
    EXPECT_EQ(formatted.substr(0, 2), "<y");
    EXPECT_EQ(formatted.substr(5001), ">42");
    EXPECT_EQ(FormatText("%s", ""), "");
}

TEST(TextHelpers, ResolveHostGivesNetworkOrder) {
    uint32_t loopback = telvaro::platform::ResolveHost("127.0.0.1");
    const auto* bytes = reinterpret_cast<const uint8_t*>(&loopback);
    EXPECT_EQ(bytes[0], 127);
    EXPECT_EQ(bytes[1], 0);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[3], 1);
    EXPECT_EQ(telvaro::platform::ResolveHost(""), 0u);
}

}  // namespace
