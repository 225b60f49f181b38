#include "util/auth_params.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// "name=value;" of each parameter read, then "|" and what is left at the
// stop.
std::string Read(const std::string& text) {
    size_t pos = 0;
    std::string out;
    for (const telvaro::AuthParam& p : telvaro::ReadAuthParams(text, pos)) out += p.name + "=" + p.value + ";";
    return out + "|" + text.substr(pos);
}

TEST(AuthParams, ReadsUpToTheNextChallenge) {
    struct Case {
        std::string text;
        std::string read;
    } cases[] = {
        {"Realm=\"a \\\"b\\\", c\" , NONCE = x", "realm=a \"b\", c;nonce=x;|"},
        // Unquoted nonces of some cameras carry base64 padding and slashes.
        {"nonce=ab/c+d==, qop=auth", "nonce=ab/c+d==;qop=auth;|"},
        {"realm=\"r\", stale=FALSE, Basic realm=\"b\"", "realm=r;stale=FALSE;|Basic realm=\"b\""},
        {"/ realm=\"unterminated", "realm=unterminated;|"},
        {", ,", "|"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(c.text), c.read) << c.text;
}

}  // namespace
