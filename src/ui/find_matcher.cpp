#include "ui/find_matcher.h"

#include <regex.h>

namespace qs::ui {

std::string LowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

struct FindMatcher::Regex {
    regex_t compiled{};
    bool ready = false;  // regcomp succeeded: there is something to free
    ~Regex() {
        if (ready)
            regfree(&compiled);
    }
};

FindMatcher::FindMatcher(const std::string& text, bool whole_word, bool match_case,
                         bool regular_expression)
    : needle_(match_case ? text : LowerAscii(text)), match_case_(match_case) {
    if (regular_expression) {
        auto regex = std::make_unique<Regex>();
        const int code = regcomp(&regex->compiled, needle_.c_str(), REG_EXTENDED | REG_NOSUB);
        if (code != 0) {
            char message[256];
            regerror(code, &regex->compiled, message, sizeof message);
            error_ = message[0] ? message : "invalid expression";
            return;
        }
        regex->ready = true;
        regex_ = std::move(regex);
    } else if (whole_word) {
        needle_ = " " + needle_ + " ";
    }
}

FindMatcher::~FindMatcher() = default;

bool FindMatcher::MatchesOne(const std::string& text) const {
    const std::string folded = match_case_ ? text : LowerAscii(text);
    if (regex_)
        return regexec(&regex_->compiled, folded.c_str(), 0, nullptr, 0) == 0;
    return folded.find(needle_) != std::string::npos;
}

bool FindMatcher::Matches(const std::string& header, const std::string& from) const {
    if (!ok())
        return false;
    return MatchesOne(header) || MatchesOne(from);
}

}  // namespace qs::ui
