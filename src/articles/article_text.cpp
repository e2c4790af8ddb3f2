#include "articles/article_text.h"

#include "app/text_util.h"

namespace qs {

namespace {

// Every LF gets the CR it lacks.
std::string WithCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            out += '\r';
        out += text[i];
    }
    return out;
}

void ReplaceAll(std::string& text, std::string_view from, std::string_view to) {
    for (size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

}  // namespace

std::string ComposeArticle(const PostRequest& request) {
    std::string text = "Newsgroups: " + request.group + "\r\n";
    if (!request.references.empty())
        text += "References: " + request.references + "\r\n";
    text += "Distribution: world\r\nFollowup-To: \r\n";
    text += "From: " + request.from + "\r\n";
    text += "Organization: \r\n";
    text += "Subject: " + request.subject + "\r\nKeywords: \r\n";
    const std::string body = WithCrLf(request.body);
    if (!body.starts_with("\r\n"))
        text += "\r\n";
    text += body;
    return text;
}

std::string PostWireText(std::string_view text) {
    std::string out = WithCrLf(text);
    // A line that starts with "." would end the article early or lose its dot.
    if (out.starts_with('.'))
        out.insert(0, 1, '.');
    for (size_t pos = out.find("\n."); pos != std::string::npos; pos = out.find("\n.", pos + 3))
        out.insert(pos + 1, 1, '.');
    out += "\r\n.\r\n";
    return out;
}

std::string HeaderValue(std::string_view text, std::string_view name) {
    const size_t start = text.find(name);
    if (start == std::string_view::npos)
        return {};
    std::string_view rest = text.substr(start + name.size());
    return WithoutLineEnd(rest.substr(0, rest.find('\n')));
}

PostRequest FollowUpOf(std::string_view article_text, std::string from) {
    PostRequest reply;
    reply.from = std::move(from);
    const std::string subject = HeaderValue(article_text, "Subject: ");
    reply.subject =
        EqualsNoCase(std::string_view(subject).substr(0, 3), "re:") ? subject : "Re: " + subject;
    const std::string references = HeaderValue(article_text, "References: ");
    const std::string message_id = HeaderValue(article_text, "Message-ID: ");
    reply.references = references.empty() ? message_id : references + " " + message_id;

    const std::string text = WithCrLf(article_text);
    const size_t blank = text.find("\r\n\r\n");
    if (blank != std::string::npos)
        reply.body = text.substr(blank + 2);
    else if (!text.empty())
        reply.body = text.substr(1);
    ReplaceAll(reply.body, "\r\n", "\r\n> ");
    reply.body += "\r\n";
    return reply;
}

}  // namespace qs
