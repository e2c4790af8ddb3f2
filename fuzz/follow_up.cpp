// The follow-up the reading window builds from an article read, composed and put on the
// wire. Input: the article text.
//
// Invariants: the subject and References of the follow-up hold no line end (no header of
// the article can smuggle another header in); the composed article has exactly the headers
// the composer writes, in order; its wire form ends with the one "." line, has CR LF line
// ends and loses nothing when its dots are unstuffed again; every quoted body line starts
// with "> ".

#include <string>
#include <string_view>
#include <vector>

#include "app/text_util.h"
#include "articles/article_text.h"
#include "fuzz_support.h"

namespace {

using namespace qs;

std::string WithCrLf(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

// A line feed ends a header line on the wire; a lone CR does not.
bool HasLineEnd(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

void CheckHeaders(std::string_view composed, const PostRequest& request) {
    static const char* const kNames[] = {
        "Newsgroups: ", "References: ",   "Distribution: ", "Followup-To: ",
        "From: ",       "Organization: ", "Subject: ",      "Keywords: "};
    for (const char* name : kNames) {
        if (std::string_view(name) == "References: " && request.references.empty())
            continue;
        const size_t end = composed.find("\r\n");
        QS_FUZZ_CHECK(end != std::string_view::npos);
        QS_FUZZ_CHECK(composed.substr(0, end).starts_with(name));
        composed.remove_prefix(end + 2);
    }
    // The blank line that ends the headers.
    QS_FUZZ_CHECK(composed.starts_with("\r\n"));
}

void CheckWire(std::string_view text) {
    const std::string wire = PostWireText(text);
    QS_FUZZ_CHECK(wire.ends_with("\r\n.\r\n"));
    std::string unstuffed;
    std::string_view rest(wire);
    rest.remove_suffix(3);  // ".\r\n"
    while (!rest.empty()) {
        const size_t lf = rest.find('\n');
        QS_FUZZ_CHECK(lf != std::string_view::npos && lf > 0 && rest[lf - 1] == '\r');
        std::string_view line = rest.substr(0, lf + 1);
        rest.remove_prefix(lf + 1);
        QS_FUZZ_CHECK(line != ".\r\n");
        if (line.starts_with('.')) {
            QS_FUZZ_CHECK(line.starts_with(".."));
            line.remove_prefix(1);
        }
        unstuffed += line;
    }
    std::string expected = WithCrLf(text) + "\r\n";
    QS_FUZZ_CHECK(unstuffed == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view article = fuzz::AsText(data, size);
    PostRequest reply = FollowUpOf(article, "Me <me@example.com>");
    QS_FUZZ_CHECK(!HasLineEnd(reply.subject));
    QS_FUZZ_CHECK(!HasLineEnd(reply.references));
    QS_FUZZ_CHECK(reply.from == "Me <me@example.com>");
    QS_FUZZ_CHECK(reply.subject.size() >= 3 && EqualsNoCase(reply.subject.substr(0, 3), "re:"));
    QS_FUZZ_CHECK(reply.body.ends_with("\r\n"));
    for (size_t at = reply.body.find("\r\n"); at + 2 < reply.body.size();
         at = reply.body.find("\r\n", at + 2))
        QS_FUZZ_CHECK(std::string_view(reply.body).substr(at + 2, 2) == "> ");

    reply.group = "alt.test";
    const std::string composed = ComposeArticle(reply);
    CheckHeaders(composed, reply);
    CheckWire(composed);
    CheckWire(article);
    return 0;
}
