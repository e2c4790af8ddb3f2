#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qs {

class Host;
struct Settings;

// Keeps or drops overview headers by a comma-separated word list or one regular expression,
// tested case-insensitively against the subject and then the poster. Each scan worker
// prepares its own filter; nothing is shared between filters, so workers never wait for
// each other here. A filter is not itself safe to use from two threads at once.
class HeaderFilter {
  public:
    struct Options {
        bool on = false;       // off: every header is kept
        bool exclude = false;  // false: keep matching headers; true: drop them
        bool regex = false;    // false: word list
        std::string text;      // the words or the expression
    };

    static Options OptionsFrom(const Settings& settings);

    HeaderFilter();
    ~HeaderFilter();
    HeaderFilter(const HeaderFilter&) = delete;
    HeaderFilter& operator=(const HeaderFilter&) = delete;

    // Prepares the filter. False when the expression does not compile: the library's error
    // is logged and shown through `host` as "Regular expression:" + the error, and the
    // filter then drops every header, so nothing from that server is stored.
    bool Prepare(const Options& options, Host& host);
    bool Prepare(const Settings& settings, Host& host) {
        return Prepare(OptionsFrom(settings), host);
    }

    // True when a header with this subject and From field is to be stored.
    bool Accepts(std::string_view subject, std::string_view from);

    // The prepared word list (lower case), for diagnostics.
    const std::vector<std::string>& words() const { return words_; }

    // Splits a word list at commas (runs of commas give no empty piece); each piece loses
    // its leading blanks and everything after its last character above code 32 (trailing
    // blanks, control characters and bytes 128..255), then is lower-cased.
    static std::vector<std::string> SplitWords(std::string_view text);

  private:
    bool Matches(std::string_view subject, std::string_view from);
    bool RegexMatches(std::string_view text);
    bool WordsMatch(std::string_view text);
    void Release();

    Options options_;
    std::vector<std::string> words_;
    std::string lowered_;  // scratch buffer for the lower-cased header text
    struct Regex;
    std::unique_ptr<Regex> regex_;
    bool failed_ = false;
    bool match_error_logged_ = false;
};

}  // namespace qs
