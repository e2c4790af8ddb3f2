// Lines of a server's LIST reply through the line parser into a scratch groups database.
// Input: the reply lines.
//
// Invariants: a parsed group has a name without blanks and the numbers the line gives;
// amount is last - first; the stored group reads back as parsed.

#include <string>
#include <string_view>

#include "app/host.h"
#include "db/header_db.h"
#include "engine/group_list_reader.h"
#include "fuzz_support.h"

namespace {

using namespace qs;

bool HasBlank(std::string_view text) {
    for (char c : text)
        if (c == ' ' || (c >= '\t' && c <= '\r'))
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static SilentHost host;
    static std::shared_ptr<HeaderDatabase> db =
        HeaderDatabase::Open(DbEnv{fuzz::ScratchRoot(), &host}, "groups");
    QS_FUZZ_CHECK(db != nullptr);
    QS_FUZZ_CHECK(db->Empty());

    std::string_view input = fuzz::AsText(data, size);
    while (!input.empty()) {
        const size_t lf = input.find('\n');
        const std::string_view line = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        Group group;
        if (!ParseActiveLine(line, group))
            continue;
        QS_FUZZ_CHECK(!group.name.empty() && !HasBlank(group.name));
        QS_FUZZ_CHECK(line.find(group.name) != std::string_view::npos);
        int64_t amount = 0;
        if (!__builtin_sub_overflow(group.last, group.first, &amount))
            QS_FUZZ_CHECK(group.amount == amount);
        QS_FUZZ_CHECK(group.state == 0);
        QS_FUZZ_CHECK(db->StoreGroup(group));
        Group stored;
        QS_FUZZ_CHECK(db->FindGroup(group.name, stored));
        QS_FUZZ_CHECK(stored.name == group.name && stored.first == group.first &&
                      stored.last == group.last && stored.amount == group.amount);
    }
    return 0;
}
