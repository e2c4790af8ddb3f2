#include "download/yenc_simd.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec_support.h"

namespace qs {
namespace {

// Decodes from a copy of `line` of exactly its size into a buffer of exactly its size, so
// that AddressSanitizer catches a read past the line or a write past the room.
std::string DecodeExact(YencLineDecoder decode, const std::string& line) {
    std::vector<char> in(line.begin(), line.end());
    std::vector<uint8_t> out(line.size());
    size_t n = decode(std::string_view(in.data(), in.size()), out.data());
    EXPECT_LE(n, line.size());
    return std::string(reinterpret_cast<const char*>(out.data()), n);
}

// Checks every decoder this CPU runs against the plain one; false after the first
// disagreement, so a broken decoder reports one line rather than thousands.
bool AllAgree(const std::string& line) {
    const std::string expected = DecodeExact(DecodeYencLineScalar, line);
    for (const auto& choice : AvailableYencLineDecoders()) {
        std::string got = DecodeExact(choice.decode, line);
        if (got != expected) {
            ADD_FAILURE() << choice.name << " differs on a line of " << line.size()
                          << " bytes: " << testing::PrintToString(line);
            return false;
        }
    }
    return true;
}

TEST(YencSimd, EveryEscapePositionAndRunOfEveryLineLength) {
    std::mt19937 rng(11);
    // Plain bytes include those that are special elsewhere in a body (CR, LF, ".", NUL),
    // as the line decoder must pass them through.
    const char plain[] = {'\r', '\n', '.', '\0', ' ', '\t', 'a', '\x7f', '\xff', '\xd6'};
    for (size_t length = 0; length <= 300; ++length) {
        std::string base(length, '\0');
        for (auto& c : base) {
            c = rng() % 4 == 0 ? plain[rng() % sizeof plain] : static_cast<char>(rng() & 0xff);
            if (c == '=')
                c = '>';
        }
        ASSERT_TRUE(AllAgree(base));
        // A run of one "=" is an escape, two an escaped "=", three an escaped "=" and
        // an escape; at every position, so each lands on the first and last byte of a
        // 16- and 32-byte block and of the line. Runs, which no encoder writes, on the
        // shorter lines only: three blocks and a tail show every way they can fall.
        const size_t longest_run = length <= 100 ? 3 : 1;
        for (size_t run = 1; run <= longest_run; ++run)
            for (size_t at = 0; at < length; ++at) {
                std::string line = base;
                for (size_t k = at; k < at + run && k < length; ++k)
                    line[k] = '=';
                ASSERT_TRUE(AllAgree(line)) << "run " << run << " at " << at;
            }
        // Escapes every other byte: a block full of them, and one after each block end.
        std::string dense = base;
        for (size_t at = 0; at < length; at += 2)
            dense[at] = '=';
        ASSERT_TRUE(AllAgree(dense));
        dense = base;
        for (size_t at = 1; at < length; at += 2)
            dense[at] = '=';
        ASSERT_TRUE(AllAgree(dense));
    }
    EXPECT_EQ(DecodeExact(AvailableYencLineDecoders().back().decode, "="), "");
}

TEST(YencSimd, RandomLinesAgreeWithTheReference) {
    std::mt19937 rng(5);
    for (int round = 0; round < 10000; ++round) {
        std::string line(rng() % 400, '\0');
        // From no escapes to an escape in every other byte, and now and then "==".
        const unsigned density = 1 + rng() % 64;
        for (auto& c : line)
            c = rng() % density == 0 ? '=' : static_cast<char>(rng() & 0xff);
        ASSERT_EQ(DecodeExact(DecodeYencLineScalar, line), test::ReferenceYencDecode(line));
        ASSERT_TRUE(AllAgree(line)) << "round " << round;
    }
}

}  // namespace
}  // namespace qs
