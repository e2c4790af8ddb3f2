#include "engine/engine.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qs {
namespace {

class EngineTest : public ::testing::Test {
  protected:
    std::unique_ptr<Engine> OpenEngine() {
        auto engine = std::make_unique<Engine>(
            StartupContext{home_.path(), home_.File("Quillstream.ini"), ""}, host_);
        EXPECT_TRUE(engine->Open());
        return engine;
    }

    static int StateOf(Engine& engine, const std::string& id) {
        for (int64_t row = 0; row < engine.queue()->CountRows(); ++row) {
            Attachment a;
            if (engine.queue()->AttachmentAt(row, a) && a.Id == id)
                return a.state;
        }
        return -1;
    }

    test::TempDir home_;
    SilentHost host_;
};

TEST_F(EngineTest, OnlyTheQueueOwnerRequeuesInterruptedEntries) {
    {
        auto first = OpenEngine();
        Attachment entry;
        entry.state = StateDownloading;
        entry.Id = entry.filename = "busy.bin";
        first->queue()->StoreAttachment(nullptr, entry);

        // A second process on the same home (a CLI list while the GUI downloads) must not
        // hand out what the first one is downloading.
        auto second = OpenEngine();
        EXPECT_EQ(StateOf(*second, "busy.bin"), StateDownloading);
    }
    // Both gone, as after a crash: the next engine queues the entry again.
    auto next = OpenEngine();
    EXPECT_EQ(StateOf(*next, "busy.bin"), StateQueued);
}

}  // namespace
}  // namespace qs
