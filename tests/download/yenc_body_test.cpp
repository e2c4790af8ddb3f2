#include "download/yenc_body.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec_support.h"
#include "download/crc32.h"
#include "download/yenc_body_crc.h"

namespace qs {
namespace {

// What the line-by-line path makes of a body: split at LF, line ends dropped, the first of
// two leading dots dropped, each line decoded alone.
std::string DecodeByLines(const std::string& body) {
    std::string decoded;
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string_view line(body.data() + start, end - start);
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.substr(0, 2) == "..")
            line.remove_prefix(1);
        decoded += test::ReferenceYencDecode(std::string(line));
        start = end + 1;
    }
    return decoded;
}

// Decodes a copy of `body` of exactly its size into room of exactly its size (so that
// AddressSanitizer sees a read or write past either), `slice` bytes per call.
std::string DecodeInSlices(YencBodyDecoder decode, const std::string& body, size_t slice) {
    std::vector<char> in(body.begin(), body.end());
    std::vector<uint8_t> out(body.size());
    const std::string_view view(in.data(), in.size());
    size_t i = 0, o = 0;
    bool escape = false;
    while (i < view.size())
        decode(view, i, std::min(view.size(), i + slice), out.data(), o, escape);
    EXPECT_LE(o, body.size());
    return std::string(reinterpret_cast<const char*>(out.data()), o);
}

// Every decoder this CPU runs, whole and in slices that cut blocks and lines anywhere,
// against the line path; false after the first disagreement.
bool AllAgree(const std::string& body, std::initializer_list<size_t> slices) {
    const std::string expected = DecodeByLines(body);
    for (const auto& choice : AvailableYencBodyDecoders())
        for (size_t slice : slices) {
            std::string got = DecodeInSlices(choice.decode, body, slice);
            if (got != expected) {
                ADD_FAILURE() << choice.name << " in slices of " << slice << " differs on "
                              << testing::PrintToString(body);
                return false;
            }
        }
    return true;
}

TEST(YencBody, EverySpecialSequenceAtEveryPositionAgreesWithTheLinePath) {
    std::mt19937 rng(3);
    // What ends lines, escapes, and the dots a server doubles, also in forms no encoder
    // writes (a run of CRs, "==", "=" before a line end, a CR inside a line).
    const std::vector<std::string> sequences = {
        "=",   "\r\n", "\n", "\n..",   "\r\n..", "\n.",   "\r\r\n",  "=\r\n",
        "=\n", "==",   "\r", "=\r\rx", "..",     "\n..=", "=\r\n..",
    };
    for (size_t length = 0; length <= 80; ++length) {
        std::string base(length, '\0');
        for (auto& c : base) {
            c = static_cast<char>(rng() & 0xff);
            if (c == '=' || c == '\r' || c == '\n' || c == '.')
                c = 'q';
        }
        ASSERT_TRUE(AllAgree(base, {SIZE_MAX, 1}));
        for (const auto& sequence : sequences)
            for (size_t at = 0; at < length; ++at) {
                std::string body = base;
                body.replace(at, std::min(sequence.size(), length - at), sequence);
                body.resize(length);
                ASSERT_TRUE(AllAgree(body, {SIZE_MAX, 5, 17, 33}))
                    << testing::PrintToString(sequence) << " at " << at;
            }
    }
}

TEST(YencBody, RandomBodiesAgreeWithTheLinePathAndTheChecksumIsOfTheOutput) {
    std::mt19937 rng(8);
    const char specials[] = {'=', '\r', '\n', '.'};
    for (int round = 0; round < 3000; ++round) {
        std::string body(rng() % 3000, '\0');
        const unsigned density = 1 + rng() % 40;
        for (auto& c : body)
            c = rng() % density == 0 ? specials[rng() % 4] : static_cast<char>(rng() & 0xff);
        ASSERT_TRUE(AllAgree(body, {SIZE_MAX, 1 + rng() % 200})) << "round " << round;
    }
    // A real part: encoded lines with CR LF and the dots a server doubles.
    const std::string data = test::RandomBytes(200000, 4);
    std::string body;
    for (const auto& line : test::EncodeYencLines(data, 128, false))
        body += (line[0] == '.' ? "." : "") + line + "\r\n";
    for (const auto& choice : AvailableYencBodyDecoders()) {
        std::vector<uint8_t> out(body.size());
        uint32_t crc = 0;
        const size_t size = DecodeYencBody(choice.decode, body, out.data(), crc);
        ASSERT_EQ(std::string(reinterpret_cast<const char*>(out.data()), size), data)
            << choice.name;
        EXPECT_EQ(crc, Crc32(0, data.data(), data.size())) << choice.name;
    }
}

// The folding CRC against the library's at every length over the fold's step sizes, at
// every alignment, continuing any value.
TEST(YencBody, WideCrcIsTheLibrarysAtEveryLengthAndAlignment) {
    std::mt19937 rng(11);
    const std::string data = test::RandomBytes(4096, 12);
    for (size_t size = 0; size <= 1100; ++size)
        for (size_t offset = 0; offset < 32; offset += 7) {
            const uint32_t crc = size % 3 == 0 ? 0 : static_cast<uint32_t>(rng());
            ASSERT_EQ(Crc32Wide(crc, data.data() + offset, size),
                      Crc32(crc, data.data() + offset, size))
                << size << " bytes at " << offset;
        }
    EXPECT_EQ(Crc32Wide(0, data.data(), data.size()), Crc32(0, data.data(), data.size()));
}

}  // namespace
}  // namespace qs
