#include "scan/header_filter.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/debug_log.h"
#include "app/host.h"
#include "app/settings.h"
#include "support/temp_dir.h"

namespace qs {
namespace {

class RecordingHost : public Host {
  public:
    void ShowMessage(const std::string& text, Icon icon) override {
        std::lock_guard lock(mutex_);
        messages.push_back(text);
        icons.push_back(icon);
    }
    bool AskYesNo(const std::string&) override { return false; }
    void Refresh() override {}

    std::vector<std::string> messages;
    std::vector<Icon> icons;

  private:
    std::mutex mutex_;
};

HeaderFilter::Options Words(std::string text, bool exclude = false) {
    return {true, exclude, false, std::move(text)};
}
HeaderFilter::Options Regex(std::string text, bool exclude = false) {
    return {true, exclude, true, std::move(text)};
}

TEST(HeaderFilterWords, SplitAndTrim) {
    using V = std::vector<std::string>;
    EXPECT_EQ(HeaderFilter::SplitWords("jpg, gif ,mpg"), (V{"jpg", "gif", "mpg"}));
    EXPECT_EQ(HeaderFilter::SplitWords(",,a,,,B,"), (V{"a", "b"}));
    // Only blanks are skipped in front; behind the word anything up to code 32 and every
    // byte above 127 goes.
    EXPECT_EQ(HeaderFilter::SplitWords("\tx\x01\x7f,  y z \xe9\xff \r"), (V{"\tx\x01\x7f", "y z"}));
    EXPECT_EQ(HeaderFilter::SplitWords("caf\xe9 au lait"), (V{"caf\xe9 au lait"}));
    // Pieces of nothing but blanks or control characters become empty words.
    EXPECT_EQ(HeaderFilter::SplitWords("   ,\t"), (V{"", ""}));
    EXPECT_EQ(HeaderFilter::SplitWords(""), V{});
}

TEST(HeaderFilterWords, IncludeAndExclude) {
    SilentHost host;
    HeaderFilter f;
    ASSERT_TRUE(f.Prepare(Words("jpg, GIF ,mpg"), host));
    EXPECT_TRUE(f.Accepts("Holiday.JPG (1/2)", "a <a@x>"));
    EXPECT_TRUE(f.Accepts("anim.gif", "a <a@x>"));
    EXPECT_FALSE(f.Accepts("movie.avi (1/9)", "a <a@x>"));
    EXPECT_TRUE(f.Accepts("movie.avi (1/9)", "MPG fan <m@x>"));  // the From field alone

    ASSERT_TRUE(f.Prepare(Words("spam", true), host));
    EXPECT_TRUE(f.Accepts("file.rar", "good <g@x>"));
    EXPECT_FALSE(f.Accepts("SPAM file.rar", "good <g@x>"));
    EXPECT_FALSE(f.Accepts("file.rar", "Spammer <s@x>"));
}

TEST(HeaderFilterWords, EmptyWordsAndEmptyLists) {
    SilentHost host;
    HeaderFilter f;
    // A blank piece is an empty word, found in every text.
    ASSERT_TRUE(f.Prepare(Words("zzz,  "), host));
    EXPECT_TRUE(f.Accepts("anything", ""));
    ASSERT_TRUE(f.Prepare(Words("zzz,  ", true), host));
    EXPECT_FALSE(f.Accepts("anything", ""));
    // No words at all match nothing.
    for (const char* text : {"", ",,,"}) {
        ASSERT_TRUE(f.Prepare(Words(text), host));
        EXPECT_FALSE(f.Accepts("anything", "anyone"));
        ASSERT_TRUE(f.Prepare(Words(text, true), host));
        EXPECT_TRUE(f.Accepts("anything", "anyone"));
    }
}

TEST(HeaderFilterOff, KeepsEverything) {
    SilentHost host;
    HeaderFilter unprepared;
    EXPECT_TRUE(unprepared.Accepts("x", "y"));

    Settings settings;
    settings.FilterWords = "nothing matches this";
    HeaderFilter f;
    ASSERT_TRUE(f.Prepare(settings, host));  // FilterUse is 0
    EXPECT_TRUE(f.Accepts("x", "y"));

    settings.FilterUse = 1;
    settings.FilterInclude = 1;
    settings.UseRegExpFilter = 1;
    HeaderFilter::Options o = HeaderFilter::OptionsFrom(settings);
    EXPECT_TRUE(o.on);
    EXPECT_TRUE(o.exclude);
    EXPECT_TRUE(o.regex);
    EXPECT_EQ(o.text, "nothing matches this");
}

TEST(HeaderFilterRegex, CaseInsensitiveWithEscapesIntact) {
    SilentHost host;
    HeaderFilter f;
    ASSERT_TRUE(f.Prepare(Regex("^[A-Z]+\\.jpg"), host));
    EXPECT_TRUE(f.Accepts("holiday.JPG (1/2)", ""));
    EXPECT_TRUE(f.Accepts("HOLIDAY.jpg", ""));
    EXPECT_FALSE(f.Accepts("re: holiday.jpg", ""));
    EXPECT_TRUE(f.Accepts("re: holiday.jpg", "Photos.jpg <p@x>"));  // subject, then From

    // \D and \W keep their meaning (lower-casing the pattern would turn them around).
    ASSERT_TRUE(f.Prepare(Regex("^\\D+ \\W\\d+\\W$"), host));
    EXPECT_TRUE(f.Accepts("Part (12)", ""));
    EXPECT_FALSE(f.Accepts("Part1 (12)", ""));

    ASSERT_TRUE(f.Prepare(Regex("sample|password", true), host));
    EXPECT_FALSE(f.Accepts("movie SAMPLE.avi", ""));
    EXPECT_TRUE(f.Accepts("movie.avi", ""));
    // Binary junk in a header is just text to the matcher.
    EXPECT_TRUE(f.Accepts(std::string("\xff\0\x80", 3), std::string_view()));
}

TEST(HeaderFilterRegex, BadExpressionIsReportedAndDropsEverything) {
    test::TempDir dir;
    DebugLog::Instance().SetPath(dir.File("log.txt"));
    DebugLog::Instance().SetEnabled(true);

    RecordingHost host;
    HeaderFilter f;
    EXPECT_FALSE(f.Prepare(Regex("(unclosed"), host));
    EXPECT_FALSE(f.Prepare(Regex("(unclosed"), host));  // once for every attempt
    ASSERT_EQ(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[0].rfind("Regular expression:", 0), 0u) << host.messages[0];
    EXPECT_NE(host.messages[0].find("parenthesis"), std::string::npos) << host.messages[0];
    EXPECT_EQ(host.icons[0], Host::Icon::Stop);
    EXPECT_FALSE(f.Accepts("anything", "anyone"));

    // A later good expression works again.
    EXPECT_TRUE(f.Prepare(Regex("ok"), host));
    EXPECT_TRUE(f.Accepts("ok", ""));

    ASSERT_TRUE(f.Prepare(Words(" jpg ,gif"), host));
    DebugLog::Instance().SetEnabled(false);
    DebugLog::Instance().Close();
    DebugLog::Instance().SetPath("");

    std::string log = test::ReadFile(dir.File("log.txt"));
    EXPECT_NE(log.find("Filter: (unclosed\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Regular expression:missing closing parenthesis"), std::string::npos) << log;
    EXPECT_NE(log.find("Filter:  jpg ,gif\n"), std::string::npos) << log;
    EXPECT_NE(log.find("filter: -jpg-\n"), std::string::npos) << log;
    EXPECT_NE(log.find("filter: -gif-\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Filter tokenised!\n"), std::string::npos) << log;
}

TEST(HeaderFilterRegex, WorkersFilterInParallel) {
    // Each worker prepares and uses its own filter; nothing is shared between them.
    RecordingHost host;
    std::vector<std::thread> workers;
    std::vector<int> kept(4, 0);
    for (int w = 0; w < 4; ++w) {
        workers.emplace_back([&, w] {
            HeaderFilter f;
            if (!f.Prepare(w % 2 ? Regex("\\.(rar|r\\d\\d)\\b") : Words("rar"), host))
                return;
            for (int i = 0; i < 2000; ++i) {
                std::string subject = "file" + std::to_string(i) + (i % 4 ? ".RAR" : ".nfo");
                if (f.Accepts(subject, "poster <p@x>"))
                    ++kept[w];
            }
        });
    }
    for (auto& t : workers)
        t.join();
    EXPECT_TRUE(host.messages.empty());
    for (int w = 0; w < 4; ++w)
        EXPECT_EQ(kept[w], 1500) << w;
}

}  // namespace
}  // namespace qs
