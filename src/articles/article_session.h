#pragma once

#include <functional>
#include <string>

#include "articles/article_types.h"
#include "nntp/worker_state.h"

namespace qs {

// Reports each status text of a read or post as it changes; may be null.
using ArticleStatus = std::function<void(const std::string& status)>;

// Reads one article with ARTICLE on the slot's connection, trying the enabled servers in
// turn from the slot's current one: every failed attempt (no connection, GROUP refused when
// SetGroup is on and a group is given, any reply but 220) moves the slot on to the next
// server once, and after one attempt per server the read fails with "Error retrieving
// article...". Lines are dot-unstuffed; a connection lost before the closing "." or a line
// too long for the line buffer ends the read with the text so far and an error status.
ArticleRead ReadArticleOn(WorkerState& state, int slot, const std::string& group,
                          const std::string& message_id, const ArticleStatus& status);

struct PostOutcome {
    bool ok = false;      // the server answered 240
    std::string message;  // the server's reply line, or why the post failed
};

// Posts the article text with POST on the slot's connection (the servers tried in a ring as
// for any connection): the text goes only after a 340, and only a 240 accepts it. Any other
// reply fails with "Error posting message!:\n" and the reply line.
PostOutcome PostArticleOn(WorkerState& state, int slot, const std::string& article_text,
                          const ArticleStatus& status);

}  // namespace qs
