#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/base64.h"
#include "util/md5.h"
#include "support/test_http_server.h"

namespace {

using telvaro::Base64Capacity;
using telvaro::Base64Encode;
using telvaro::MakeBasicCredential;
using telvaro::Md5Hex;

TEST(Md5Hex, MatchesTheRfc1321TestSuite) {
    struct Case {
        std::string text;
        const char* hex;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.text), c.hex) << c.text;
}

TEST(Md5Hex, HandlesEveryPaddingBoundaryAndBinaryBytes) {
    // Lengths around the 56-byte padding edge and the 64-byte block, checked
    // against digests computed independently.
    struct Case {
        size_t length;
        const char* hex;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},
        {56, "3b0c8ac703f828b04c6c197006d17218"},
        {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},
        {65, "c743a45e0d2e6a95cb859adae0248435"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(std::string(c.length, 'a')), c.hex) << c.length;

    std::string binary("\0\xff\x80\n", 4);
    std::string hex = Md5Hex(binary);
    ASSERT_EQ(hex.size(), 32u);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(hex, "1f6d00cbabcca8fc08047742afdf6cf0");
}

std::string Encode(const std::string& input) {
    std::vector<char> out(Base64Capacity(input.size()));
    size_t capacity = out.size();
    EXPECT_TRUE(Base64Encode(reinterpret_cast<const uint8_t*>(input.data()), input.size(), out.data(), capacity));
    return std::string(out.data(), capacity);
}

TEST(Base64Encode, UsesTheRfc4648AlphabetAndPadding) {
    struct Case {
        std::string in;
        const char* out;
    } cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},           {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xfb\xff", "+/8="},
    };
    for (const auto& c : cases) EXPECT_EQ(Encode(c.in), c.out) << c.in;
}

TEST(Base64Encode, BreaksLinesAfter76CharactersButNotAfterTheLast) {
    std::string in57(57, 'x');
    std::string out57 = Encode(in57);
    EXPECT_EQ(out57.size(), 76u);
    EXPECT_EQ(out57.find('\r'), std::string::npos);

    std::string out58 = Encode(std::string(58, 'x'));
    ASSERT_EQ(out58.size(), 82u);
    EXPECT_EQ(out58.substr(0, 76), out57);
    EXPECT_EQ(out58.substr(76, 2), "\r\n");
    EXPECT_EQ(out58.substr(78), "eA==");

    std::string out114 = Encode(std::string(114, 'x'));
    EXPECT_EQ(out114.size(), 154u);
    EXPECT_EQ(out114.find("\r\n"), 76u);
    EXPECT_EQ(out114.find("\r\n", 78), std::string::npos);
}

TEST(Base64Encode, RefusesTooSmallAnOutputWithoutWriting) {
    struct Case {
        size_t length;
        size_t needed;
    } cases[] = {{0, 2}, {1, 6}, {3, 6}, {57, 80}, {58, 84}, {72, 100}, {73, 104}};
    for (const auto& c : cases) {
        ASSERT_EQ(Base64Capacity(c.length), c.needed) << c.length;
        std::vector<uint8_t> in(c.length, 'q');
        std::vector<char> out(c.needed + 4, '#');
        size_t capacity = c.needed - 1;
        EXPECT_FALSE(Base64Encode(in.data(), in.size(), out.data(), capacity)) << c.length;
        EXPECT_EQ(capacity, c.needed - 1);
        EXPECT_EQ(std::string(out.begin(), out.end()), std::string(out.size(), '#'));
        capacity = c.needed;
        EXPECT_TRUE(Base64Encode(in.data(), in.size(), out.data(), capacity)) << c.length;
    }
}

TEST(MakeBasicCredential, EncodesUserColonPasswordOnOneLine) {
    std::string credential = "stale";
    ASSERT_TRUE(MakeBasicCredential("Aladdin", "open sesame", credential));
    EXPECT_EQ(credential, "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");

    // Long accounts log in too: the credential is one line however long.
    for (size_t joined : {size_t{58}, size_t{72}, size_t{73}, size_t{300}}) {
        std::string user(joined / 2, 'u');
        std::string password(joined - user.size() - 1, 'p');
        ASSERT_TRUE(MakeBasicCredential(user, password, credential)) << joined;
        EXPECT_EQ(credential.find_first_of("\r\n"), std::string::npos) << joined;
        std::string decoded;
        ASSERT_TRUE(fakes::DecodeBase64(credential, decoded)) << joined;
        EXPECT_EQ(decoded, user + ":" + password);
    }
}

}  // namespace
