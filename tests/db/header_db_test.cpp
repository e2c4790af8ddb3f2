#include "db/header_db.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qs {
namespace {
TEST(HeaderDb, Opens) {
    test::TempDir dir;
    Group g;
    g.name = "alt.test";
    ASSERT_TRUE(OpenHeaderDatabase(g, DbEnv{dir.path()}));
}
}  // namespace
}  // namespace qs
