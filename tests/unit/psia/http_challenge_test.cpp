#include "psia/http_challenge.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// "scheme:nonce" of each challenge, "+" when this client can answer it.
std::string Summary(const std::vector<std::string>& values) {
    std::string out;
    for (const Web::HttpChallenge& c : Web::ParseChallenges(values)) {
        out += (out.empty() ? "" : " ") + std::to_string(c.scheme) + ":" + c.Param("nonce");
        if (c.Answerable()) out += "+";
    }
    return out;
}

TEST(HttpChallenge, ListsAreReadAsTheServerSentThem) {
    struct Case {
        std::vector<std::string> values;
        std::string summary;
    } cases[] = {
        {{"Basic realm=\"cam\""}, "1:+"},
        // RFC 7235 section 4.1: two challenges in one value, quoted commas.
        {{"Newauth realm=\"apps\", type=1, title=\"Login to \\\"apps\\\"\", Basic realm=\"simple\""}, "0: 1:+"},
        {{"Negotiate abc123==, Digest nonce=\"n1\", realm=\"a, b\""}, "16: 8:n1+"},
        {{"Digest realm=\"r\", nonce=\"n\\\"2\", qop=\"auth-int, auth\", opaque=o"}, "8:n\"2+"},
        {{"Digest nonce=n3, qop=\"auth-int\""}, "8:n3"},
        {{"Digest nonce=n4, algorithm=SHA-256", "digest nonce=n5, algorithm=md5"}, "8:n4 8:n5+"},
        {{"Digest realm=\"no nonce\"", "NTLM", ", nonce=orphan"}, "8: 2:"},
    };
    for (const Case& c : cases) EXPECT_EQ(Summary(c.values), c.summary) << c.values[0];
}

TEST(HttpChallenge, DigestValuesComeWithoutQuotesAndEscapes) {
    auto challenges =
        Web::ParseChallenges({"Digest realm=\"Cam \\\"A\\\", Lobby\", nonce=x, qop=\"auth\", opaque=\"o p\""});
    ASSERT_EQ(challenges.size(), 1u);
    EXPECT_EQ(challenges[0].Param("realm"), "Cam \"A\", Lobby");
    EXPECT_EQ(challenges[0].Param("opaque"), "o p");
    EXPECT_TRUE(challenges[0].QopAuth());
}

TEST(HttpChallenge, DigestIsAnsweredWhereverItIsListedAndBasicOnlyAlone) {
    struct Case {
        std::vector<std::string> values;
        std::string chosen;  // "scheme:nonce", empty for none
    } cases[] = {
        {{"Basic realm=\"cam\"", "Digest realm=\"cam\", nonce=n1"}, "8:n1"},
        {{"Basic realm=\"cam\", Digest realm=\"cam\", nonce=n2, qop=\"auth\""}, "8:n2"},
        {{"Digest realm=r, nonce=n3, algorithm=SHA-256", "Basic realm=r", "Digest realm=r, nonce=n4"}, "8:n4"},
        {{"Digest realm=r, nonce=n5, algorithm=SHA-256", "Basic realm=r"}, "1:"},
        {{"Basic realm=r"}, "1:"},
        {{"NTLM", "Digest realm=r"}, ""},
    };
    for (const Case& c : cases) {
        const auto challenges = Web::ParseChallenges(c.values);
        const Web::HttpChallenge* chosen = Web::StrongestChallenge(challenges);
        EXPECT_EQ(chosen ? std::to_string(chosen->scheme) + ":" + chosen->Param("nonce") : "", c.chosen) << c.values[0];
    }
}

}  // namespace
