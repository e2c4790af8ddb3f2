#pragma once

#include <string>

namespace qs {

// A text article to post: the fields of the editable text that ComposeArticle builds.
struct PostRequest {
    std::string group;       // the Newsgroups line
    std::string from;        // the From line
    std::string subject;     // the Subject line
    std::string references;  // the References line; left out when empty
    std::string body;        // lines ended by CR LF or LF
};

// One article read with ARTICLE: the final status text, and headers and body with every line
// ended by CR LF (empty when nothing was read).
struct ArticleRead {
    bool ok = false;
    std::string status;
    std::string text;
};

}  // namespace qs
