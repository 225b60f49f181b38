#include "rtsp/rtsp_response_parser.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using namespace telvaro;
using Bytes = std::vector<uint8_t>;

const Bytes kSps = {0x67, 0x42, 0x00, 0x1E, 0x95, 0xA8, 0x28, 0x0F, 0x64};
const Bytes kPps = {0x68, 0xCE, 0x3C, 0x80};

std::string Describe200(const std::string& sdp, const std::string& extraHeaders = std::string()) {
    return "RTSP/1.0 200 OK\r\nCSeq: 1\r\n" + extraHeaders + "Content-Type: application/sdp\r\nContent-Length: " +
           std::to_string(sdp.size()) + "\r\n\r\n" + sdp;
}

struct ReplyCase {
    const char* name;
    std::string reply;
    RtspMethod method;
    bool ok;
    std::function<void(const CRTSPResponseParser&)> check;
};

TEST(RtspResponseParser, RepliesAndHeaders) {
    const ReplyCase cases[] = {
        {"404 fails before any header", "RTSP/1.0 404 Not Found\r\nCSeq: 9\r\n\r\n", kRtspOptions, false,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetStatusCode(), 404u);
             EXPECT_EQ(p.GetCSeq(), 0u);
             EXPECT_EQ(p.GetProtocolVersion(), "RTSP/1.0");
         }},
        {"empty reply", "", kRtspOptions, false, nullptr},
        {"status line without a number", "RTSP/1.0 OK\r\n\r\n", kRtspOptions, false, nullptr},
        {"status beyond 32 bits", "RTSP/1.0 4294967496 OK\r\n\r\n", kRtspOptions, false, nullptr},
        {"unterminated status line", "RTSP/1.0 200 OK", kRtspOptions, false, nullptr},
        {"Digest challenge, realm then nonce",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Digest realm=\"cam one\", nonce=\"abc123\"\r\n\r\n",
         kRtspDescribe, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetStatusCode(), 401u);
             EXPECT_EQ(p.GetChallengeScheme(), kRtspAuthDigest);
             EXPECT_EQ(p.GetRealm(), "cam one");
             EXPECT_EQ(p.GetNonce(), "abc123");
         }},
        {"Digest challenge without realm",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Digest nonce=\"abc123\"\r\n\r\n", kRtspDescribe,
         false, nullptr},
        {"Basic challenge in capitals",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-AUTHENTICATE: BASIC realm=\"Cam\"\r\n\r\n", kRtspDescribe, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetChallengeScheme(), kRtspAuthBasic);
             EXPECT_EQ(p.GetRealm(), "Cam");
             EXPECT_EQ(p.GetNonce(), "");
         }},
        {"Digest wins over Basic offered beside it",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\"\r\n"
         "WWW-Authenticate: Basic realm=\"b\"\r\n\r\n",
         kRtspDescribe, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetChallengeScheme(), kRtspAuthDigest);
             EXPECT_EQ(p.GetRealm(), "r");
         }},
        {"Digest wins over Basic named before it in the same header",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Basic realm=\"b\", Digest realm=\"r\", "
         "nonce=\"n\"\r\nWWW-Authenticate: Basic realm=\"c\"\r\n\r\n",
         kRtspDescribe, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetChallengeScheme(), kRtspAuthDigest);
             EXPECT_EQ(p.GetRealm(), "r");
             EXPECT_EQ(p.GetNonce(), "n");
         }},
        // A header is known by its field name, never by a name inside its value.
        {"a realm that names other headers",
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Digest realm=\"GStreamer RTSP Server, "
         "Session\", nonce=\"a1\", qop=\"auth,auth-int\", opaque=\"o\"\r\nServer: CSeq Session 9\r\n\r\n",
         kRtspDescribe, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetChallengeScheme(), kRtspAuthDigest);
             EXPECT_EQ(p.GetRealm(), "GStreamer RTSP Server, Session");
             EXPECT_EQ(p.GetNonce(), "a1");
             EXPECT_TRUE(p.GetQopAuth());
             EXPECT_EQ(p.GetOpaque(), "o");
             EXPECT_EQ(p.GetSession(), "");
             EXPECT_EQ(p.GetCSeq(), 1u);
         }},
        {"Transport of the reply", "RTSP/1.0 200 OK\r\ntransport : RTP/AVP/TCP;interleaved=2-3\r\n\r\n",
         kRtspSetup, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetTransport(), "RTP/AVP/TCP;interleaved=2-3"); }},
        {"CSeq in upper case", "RTSP/1.0 200 OK\r\nCSEQ: 17\r\n\r\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetCSeq(), 17u); }},
        {"cseq in lower case", "RTSP/1.0 200 OK\r\ncseq:5\r\n\r\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetCSeq(), 5u); }},
        {"X-CSeq is not CSeq", "RTSP/1.0 200 OK\r\nX-CSeq: 44\r\n\r\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetCSeq(), 0u); }},
        {"CSeq without a number", "RTSP/1.0 200 OK\r\nCSeq: x\r\n\r\n", kRtspOptions, false, nullptr},
        {"Content-Base keeps the URL's case",
         "RTSP/1.0 200 OK\r\ncontent-base: rtsp://10.0.0.5/Stream/Main/ \r\n\r\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetContentBase(), "rtsp://10.0.0.5/Stream/Main/"); }},
        {"Content-Base without an RTSP URL is ignored", "RTSP/1.0 200 OK\r\nContent-Base: /relative/\r\n\r\n",
         kRtspOptions, true, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetContentBase(), ""); }},
        {"Content-Type lower-cased", "RTSP/1.0 200 OK\r\nContent-Type: Application/SDP\r\n\r\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetContentType(), "application/sdp"); }},
        {"Session with time-out", "RTSP/1.0 200 OK\r\nSession: 4D21;timeout=60\r\n\r\n", kRtspSetup, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetSession(), "4D21");
             EXPECT_EQ(p.GetSessionTimeout(), 60u);
         }},
        {"Session time-out 0 means 30", "RTSP/1.0 200 OK\r\nSession: 4D21;timeout=0\r\n\r\n", kRtspSetup, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetSessionTimeout(), 30u); }},
        {"Session name in any case", "RTSP/1.0 200 OK\r\nSESSION: AbC;timeout=7\r\n\r\n", kRtspSetup, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetSession(), "AbC");
             EXPECT_EQ(p.GetSessionTimeout(), 7u);
         }},
        {"Session with another parameter only", "RTSP/1.0 200 OK\r\nSession: 4D21;foo=1\r\n\r\n", kRtspSetup, false,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetSession(), ""); }},
        {"unknown headers and bare line ends",
         "RTSP/1.0 200 OK\nCSeq: 3\nPublic: DESCRIBE, SETUP\nSession: 77\n\n", kRtspOptions, true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetCSeq(), 3u);
             EXPECT_EQ(p.GetSession(), "77");
         }},
        {"header block cut short with a body announced", "RTSP/1.0 200 OK\r\nContent-Length: 10\r\nCSeq: 2",
         kRtspOptions, false, nullptr},
        {"header block cut short without a body", "RTSP/1.0 200 OK\r\nCSeq: 2\r\nCSeq: 8", kRtspOptions, true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetCSeq(), 2u); }},
        {"body cut short of its length", Describe200("v=0\r\nm=video 0 RTP/AVP 26\r\na=control:trackID=1\r\n")
                                             .substr(0, 120),
         kRtspDescribe, false, nullptr},
    };
    for (const ReplyCase& c : cases) {
        SCOPED_TRACE(c.name);
        CRTSPResponseParser parser;
        EXPECT_EQ(parser.Parse(c.reply, c.method), c.ok);
        if (c.check) c.check(parser);
    }
}

TEST(RtspResponseParser, FieldsAccumulateOverReplies) {
    CRTSPResponseParser parser;
    ASSERT_TRUE(parser.Parse(Describe200("v=0\r\nm=video 0 RTP/AVP 26\r\n"), kRtspDescribe));
    // The length of the description's body is not the next reply's.
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: 12345678;timeout=60\r\n\r\n", kRtspSetup));
    ASSERT_TRUE(parser.Parse("RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12345678\r\n\r\n", kRtspPlay));
    EXPECT_EQ(parser.GetSessionTimeout(), 60u);
    EXPECT_EQ(parser.GetSession(), "12345678");
    EXPECT_EQ(parser.NextCSeq(), 4u);
}

struct DescriptionCase {
    const char* name;
    std::string sdp;
    bool ok;
    std::function<void(const CRTSPResponseParser&)> check;
    int32_t selected = kRtspMediaVideo;
};

TEST(RtspResponseParser, SessionDescriptions) {
    const std::string h264Fmtp = "a=fmtp:96 packetization-mode=1; profile-level-id=42001E; "
                                 "sprop-parameter-sets=Z0IAHpWoKA9k,aM48gA==\r\n";
    const DescriptionCase cases[] = {
        {"video with control; a second control is not stored",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\na=control:trackID=9\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "trackID=1");
             EXPECT_EQ(p.GetMedia(kRtspMediaVideo).profile, "RTP/AVP");
         }},
        {"session-level control * is not stored",
         "v=0\r\na=control:*\r\nm=video 0 RTP/AVP 26\r\na=rtpmap:26 JPEG/90000\r\na=control:track1\r\n", true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "track1"); }},
        {"absolute control URL",
         "m=video 0 RTP/AVP 96\r\na=control:rtsp://10.0.0.5:554/Live/Ch1/trackID=0\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "rtsp://10.0.0.5:554/Live/Ch1/trackID=0");
         }},
        {"several media; the audio config does not replace the video sets",
         "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\na=rtpmap:96 H264/90000\r\n" + h264Fmtp +
             "m=audio 0 RTP/AVP 97\r\na=control:trackID=2\r\na=rtpmap:97 mpeg4-generic/16000/1\r\n"
             "a=fmtp:97 streamtype=5; mode=AAC-hbr; config=1408; sizelength=13\r\n"
             "m=metadata 0 RTP/AVP 107\r\na=control:trackID=3\r\n",
         true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMediaConfig().sps, kSps);
             EXPECT_EQ(p.GetMediaConfig().pps, kPps);
             EXPECT_TRUE(p.GetMediaConfig().config.empty());
             EXPECT_EQ(p.GetMedia(kRtspMediaAudio).control, "trackID=2");
             EXPECT_EQ(p.GetMedia(kRtspMediaMetadata).control, "trackID=3");
         }},
        {"the audio section when audio is set up",
         "m=video 0 RTP/AVP 96\r\n" + h264Fmtp + "m=audio 0 RTP/AVP 97\r\na=fmtp:97 config=1408\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMediaConfig().config, (Bytes{0x14, 0x08}));
             EXPECT_TRUE(p.GetMediaConfig().sps.empty());
         },
         kRtspMediaAudio},
        {"MPEG-4 configuration",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 profile-level-id=1;config=000001B001\r\n",
         true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMediaConfig().config, (Bytes{0x00, 0x00, 0x01, 0xB0, 0x01}));
         }},
        {"format line without parameter sets",
         "m=video 0 RTP/AVP 96\r\na=fmtp:96 packetization-mode=1;profile-level-id=42001E\r\na=control:trackID=1\r\n",
         true,
         [](const CRTSPResponseParser& p) {
             EXPECT_TRUE(p.GetMediaConfig().sps.empty());
             EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "trackID=1");
         }},
        {"a single parameter set is kept",
         "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHpWoKA9k\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMediaConfig().sps, kSps);
             EXPECT_TRUE(p.GetMediaConfig().pps.empty());
         }},
        {"a trailing comma", "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=Z0IAHpWoKA9k,\r\n", true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetMediaConfig().sps, kSps); }},
        {"an empty first parameter set", "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=,aM48gA==\r\n",
         true, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetMediaConfig().pps, kPps); }},
        {"no usable parameter set", "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=,\r\n", false, nullptr},
        {"a parameter set beyond 256 bytes",
         "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + std::string(344, 'A') + ",aM48gA==\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_TRUE(p.GetMediaConfig().sps.empty());
             EXPECT_EQ(p.GetMediaConfig().pps, kPps);
         }},
        {"a parameter set of exactly 256 bytes",
         "m=video 0 RTP/AVP 96\r\na=fmtp:96 sprop-parameter-sets=" + std::string(340, 'A') + "AA==,aM48gA==\r\n",
         true, [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetMediaConfig().sps, Bytes(256, 0)); }},
        {"the last line without its line end",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=control:trackID=5", true,
         [](const CRTSPResponseParser& p) { EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "trackID=5"); }},
        {"an unknown media type is skipped",
         "m=application 0 RTP/AVP 107\r\na=control:trackID=4\r\na=fmtp:107 config=FF\r\n", true,
         [](const CRTSPResponseParser& p) {
             EXPECT_EQ(p.GetMedia(kRtspMediaVideo).control, "");
             EXPECT_TRUE(p.GetMediaConfig().config.empty());
         }},
        {"a media line without a value", "m=\r\n", false, nullptr},
        {"a control line without a value", "m=video 0 RTP/AVP 96\r\na=control:\r\n", false, nullptr},
    };
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        CRTSPResponseParser parser;
        parser.SetSelectedMedia(c.selected);
        EXPECT_EQ(parser.Parse(Describe200(c.sdp), kRtspDescribe), c.ok);
        if (c.check) c.check(parser);
    }
}

TEST(RtspResponseParser, BodyIsReadOnlyForDescribe) {
    const std::string reply = Describe200("m=\r\n");
    CRTSPResponseParser parser;
    EXPECT_TRUE(parser.Parse(reply, kRtspOptions));
    EXPECT_FALSE(parser.Parse(reply, kRtspDescribe));
}

TEST(RtspResponseParser, ReplyExtent) {
    using Extent = CRTSPResponseParser::ReplyExtent;
    const std::string head = "RTSP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n";
    struct Case {
        const char* name;
        std::string text;
        Extent extent;
        size_t length;
    } cases[] = {
        {"head only so far", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n", Extent::Incomplete, 0},
        {"CR of the empty line without its LF", "RTSP/1.0 200 OK\r\n\r", Extent::Incomplete, 0},
        {"body not complete", head + "ab", Extent::Incomplete, 0},
        {"complete, with the next bytes kept", head + std::string("abcd$\0\0\5", 8), Extent::Complete, head.size() + 4},
        {"no body", "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\nRTSP/1.0", Extent::Complete, 28},
        {"bare line ends", "RTSP/1.0 200 OK\ncontent-length:1\n\nxy", Extent::Complete, 35},
        {"body beyond the limit", "RTSP/1.0 200 OK\r\nContent-Length: 65536\r\n\r\n", Extent::TooLarge, 0},
        {"head beyond the limit", "RTSP/1.0 200 OK\r\n" + std::string(70000, 'x'), Extent::TooLarge, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t length = 0;
        EXPECT_EQ(CRTSPResponseParser::FindReplyExtent(c.text, 65536, length), c.extent);
        if (c.extent == Extent::Complete) {
            EXPECT_EQ(length, c.length);
        }
    }
}

}  // namespace
