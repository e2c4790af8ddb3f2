#include "app/line_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qs {
namespace {

const char* PlainSearch(const char* at, const char* end, char next) {
    for (; at + 1 < end; ++at)
        if (at[0] == '\n' && at[1] == next)
            return at;
    return nullptr;
}

TEST(FindLineFeedBefore, AgreesWithAPlainSearchAtEveryStartAndLength) {
    // Texts of line feeds, dots and other bytes, searched from every start to every end, so
    // that each match and near miss falls on every place of the wide steps and their tails.
    std::mt19937 random(7);
    for (int round = 0; round < 40; ++round) {
        std::string text(200, 'a');
        for (char& c : text) {
            const unsigned pick = random() % 16;
            c = pick == 0 ? '\n' : pick == 1 ? '.' : pick == 2 ? '=' : static_cast<char>(random());
        }
        for (size_t from = 0; from < 70; ++from) {
            for (size_t to = from; to <= text.size(); ++to) {
                const char* begin = text.data() + from;
                const char* end = text.data() + to;
                for (char next : {'.', '='})
                    ASSERT_EQ(FindLineFeedBefore(begin, end, next), PlainSearch(begin, end, next))
                        << "round " << round << ", bytes " << from << " to " << to;
            }
        }
    }
}

}  // namespace
}  // namespace qs
