#include "scan/header_filter.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>

#include "app/debug_log.h"
#include "app/host.h"
#include "app/settings.h"
#include "app/text_util.h"

namespace qs {

// One compiled expression with its own match data and JIT stack, so that filters of
// different workers never share working state.
struct HeaderFilter::Regex {
    pcre2_code* code = nullptr;
    pcre2_match_data* match_data = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* jit_stack = nullptr;

    explicit Regex(pcre2_code* compiled) : code(compiled) {
        match_data = pcre2_match_data_create_from_pattern(code, nullptr);
        // Without JIT support the interpreter runs the same program.
        if (pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) == 0) {
            context = pcre2_match_context_create(nullptr);
            jit_stack = pcre2_jit_stack_create(32 * 1024, 1024 * 1024, nullptr);
            if (context != nullptr && jit_stack != nullptr) {
                pcre2_jit_stack_assign(context, nullptr, jit_stack);
            }
        }
    }
    ~Regex() {
        pcre2_jit_stack_free(jit_stack);
        pcre2_match_context_free(context);
        pcre2_match_data_free(match_data);
        pcre2_code_free(code);
    }
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;
};

namespace {

std::string PcreErrorText(int error_code) {
    PCRE2_UCHAR buffer[256];
    int n = pcre2_get_error_message(error_code, buffer, sizeof buffer);
    if (n < 0)
        return "error " + std::to_string(error_code);
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
}

}  // namespace

HeaderFilter::Options HeaderFilter::OptionsFrom(const Settings& settings) {
    Options o;
    o.on = settings.FilterUse != 0;
    o.exclude = settings.FilterInclude != 0;
    o.regex = settings.UseRegExpFilter != 0;
    o.text = settings.FilterWords;
    return o;
}

HeaderFilter::HeaderFilter() = default;

HeaderFilter::~HeaderFilter() {
    Release();
}

void HeaderFilter::Release() {
    regex_.reset();
    words_.clear();
}

std::vector<std::string> HeaderFilter::SplitWords(std::string_view text) {
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos)
            comma = text.size();
        std::string_view piece = text.substr(pos, comma - pos);
        pos = comma + 1;
        if (piece.empty())
            continue;  // consecutive commas
        while (!piece.empty() && piece.front() == ' ')
            piece.remove_prefix(1);
        while (!piece.empty() && static_cast<signed char>(piece.back()) <= 32) {
            piece.remove_suffix(1);
        }
        words.push_back(ToLower(piece));
    }
    return words;
}

bool HeaderFilter::Prepare(const Options& options, Host& host) {
    Release();
    options_ = options;
    failed_ = false;
    match_error_logged_ = false;
    if (!options_.on)
        return true;

    LogLine("Filter: %s\n", options_.text.c_str());
    if (!options_.regex) {
        words_ = SplitWords(options_.text);
        for (const std::string& w : words_)
            LogLine("filter: -%s-\n", w.c_str());
        LogLine("Filter tokenised!\n");
        return true;
    }

    // Case-insensitive compilation matches as if pattern and text were lower-cased, without
    // turning escapes such as \D or \W into their opposites.
    int error_code = 0;
    PCRE2_SIZE error_offset = 0;
    pcre2_code* code =
        pcre2_compile(reinterpret_cast<PCRE2_SPTR>(options_.text.data()), options_.text.size(),
                      PCRE2_CASELESS, &error_code, &error_offset, nullptr);
    if (code == nullptr) {
        std::string error =
            PcreErrorText(error_code) + " at offset " + std::to_string(error_offset);
        LogLine("Regular expression:%s\n", error.c_str());
        host.ShowMessage("Regular expression:" + error, Host::Icon::Stop);
        failed_ = true;
        return false;
    }
    regex_ = std::make_unique<Regex>(code);
    if (regex_->match_data == nullptr) {
        // Out of memory: drop everything rather than store unfiltered headers.
        LogLine("Regular expression:no memory for match data\n");
        regex_.reset();
        failed_ = true;
        return false;
    }
    return true;
}

bool HeaderFilter::RegexMatches(std::string_view text) {
    // An empty view may carry no pointer; the library wants one.
    const char* data = text.empty() ? "" : text.data();
    int rc = pcre2_match(regex_->code, reinterpret_cast<PCRE2_SPTR>(data), text.size(), 0, 0,
                         regex_->match_data, regex_->context);
    if (rc >= 0)
        return true;
    if (rc != PCRE2_ERROR_NOMATCH && !match_error_logged_) {
        // A resource limit (backtracking, JIT stack) counts as no match; say so once.
        match_error_logged_ = true;
        LogLine("Regular expression:%s\n", PcreErrorText(rc).c_str());
    }
    return false;
}

bool HeaderFilter::WordsMatch(std::string_view text) {
    lowered_.assign(text);
    std::transform(lowered_.begin(), lowered_.end(), lowered_.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    for (const std::string& w : words_) {
        if (lowered_.find(w) != std::string::npos)
            return true;
    }
    return false;
}

bool HeaderFilter::Matches(std::string_view subject, std::string_view from) {
    if (regex_ != nullptr)
        return RegexMatches(subject) || RegexMatches(from);
    return WordsMatch(subject) || WordsMatch(from);
}

bool HeaderFilter::Accepts(std::string_view subject, std::string_view from) {
    if (!options_.on)
        return true;
    if (failed_)
        return false;
    bool matches = Matches(subject, from);
    return options_.exclude ? !matches : matches;
}

}  // namespace qs
