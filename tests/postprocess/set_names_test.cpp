#include "postprocess/set_names.h"

#include <gtest/gtest.h>

namespace qs {
namespace {

struct Case {
    const char* name;
    const char* base;
    SetFileRole role;
    int volume;
    int blocks;
};

TEST(SetNames, ClassifiesVolumesIndexAndRecoveryFiles) {
    const Case cases[] = {
        {"Movie.part01.rar", "Movie", SetFileRole::rar_volume, 0, 0},
        {"movie.PART7.RAR", "movie", SetFileRole::rar_volume, 6, 0},
        {"movie.rar", "movie", SetFileRole::rar_volume, 0, 0},
        {"movie.r00", "movie", SetFileRole::rar_volume, 1, 0},
        {"movie.R12", "movie", SetFileRole::rar_volume, 13, 0},
        {"movie.7z.001", "movie", SetFileRole::sevenzip_volume, 0, 0},
        {"movie.7Z.010", "movie", SetFileRole::sevenzip_volume, 9, 0},
        {"movie.7z", "movie", SetFileRole::sevenzip_volume, 0, 0},
        {"movie.z01", "movie", SetFileRole::zip_volume, 0, 0},
        {"movie.Par2", "movie", SetFileRole::par2_index, 0, 0},
        {"Movie.vol03+04.PAR2", "Movie", SetFileRole::par2_recovery, 0, 4},
        {"movie.part01.vol127+128.par2", "movie.part01", SetFileRole::par2_recovery, 0, 128},
        {"my.vol.par2", "my.vol", SetFileRole::par2_index, 0, 0},  // no range: an index
        {"movie.mkv", "movie", SetFileRole::plain, 0, 0},
        {"README", "README", SetFileRole::plain, 0, 0},
        {".hidden", ".hidden", SetFileRole::plain, 0, 0},
        {"x.001", "x", SetFileRole::plain, 0, 0},  // a bare number is no 7z volume
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SetFileName got = ClassifySetFile(c.name);
        EXPECT_EQ(got.base, c.base);
        EXPECT_EQ(got.role, c.role);
        if (IsArchiveVolume(c.role)) {
            EXPECT_EQ(got.volume, c.volume);
        }
        EXPECT_EQ(got.recovery_blocks, c.blocks);
    }
}

TEST(SetNames, SplitZipOrdersTheZipFileLast) {
    EXPECT_LT(ClassifySetFile("a.z01").volume, ClassifySetFile("a.z02").volume);
    EXPECT_LT(ClassifySetFile("a.z99").volume, ClassifySetFile("a.zip").volume);
}

}  // namespace
}  // namespace qs
