#pragma once

// The test the find/filter action applies to each row: a text or a POSIX extended regular
// expression, with case folding and the blank-wrapped whole-word rule. Toolkit-free.

#include <memory>
#include <string>

namespace qs::ui {

// ASCII lower case, byte by byte: the same whatever locale the process runs in.
std::string LowerAscii(std::string text);

class FindMatcher {
  public:
    // Folds the text unless match_case; compiles it when regular_expression (whole_word is
    // then ignored), else wraps it in one blank on each side when whole_word. On a bad
    // expression error() holds the library's message and nothing matches.
    FindMatcher(const std::string& text, bool whole_word, bool match_case, bool regular_expression);
    ~FindMatcher();
    FindMatcher(const FindMatcher&) = delete;
    FindMatcher& operator=(const FindMatcher&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    // The header text matches, or failing that the from text.
    bool Matches(const std::string& header, const std::string& from) const;

  private:
    bool MatchesOne(const std::string& text) const;

    struct Regex;
    std::string needle_;
    bool match_case_ = false;
    std::unique_ptr<Regex> regex_;
    std::string error_;
};

}  // namespace qs::ui
