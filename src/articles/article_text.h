#pragma once

#include <string>
#include <string_view>

#include "articles/article_types.h"

namespace qs {

// The text around one article: composing a post, its wire form, header look-up and the
// follow-up of an article read. Pure functions, no connection.

// The editable text of a new article or follow-up: Newsgroups, References (when set),
// Distribution, Followup-To, From, Organization, Subject and Keywords, then the body. A body
// not starting with a line end gets the blank line that ends the headers in front of it; an
// empty body is that blank line alone. Bare LF line ends become CR LF.
std::string ComposeArticle(const PostRequest& request);

// What follows POST's 340: the text with CR LF line ends, every line starting with "."
// doubled, then CR LF and the closing ".". An article text that ends with a line end
// therefore ends with an empty line.
std::string PostWireText(std::string_view text);

// The rest of the line after the first occurrence of `name` (written with its case and the
// blank after the colon, "Subject: ") anywhere in the text; empty when it does not occur.
std::string HeaderValue(std::string_view text, std::string_view name);

// The follow-up of an article read: "Re: " before the subject unless it starts with "re:"
// in any case, References = the old References, a blank and the old Message-ID (or the
// Message-ID alone), and the body quoted with "> " after the blank line. The group is left
// empty: the caller names the group being read.
PostRequest FollowUpOf(std::string_view article_text, std::string from);

}  // namespace qs
