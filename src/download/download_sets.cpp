#include "download/download_sets.h"

#include "app/text_util.h"

namespace qs {

std::string PostedFileName(std::string_view subject) {
    const size_t open = subject.find('"');
    if (open != std::string_view::npos) {
        const size_t close = subject.find('"', open + 1);
        if (close != std::string_view::npos && close > open + 1)
            return std::string(subject.substr(open + 1, close - open - 1));
    }
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!subject.empty() && blank(subject.back()))
        subject.remove_suffix(1);
    if (subject.size() > 5 && ToLower(subject.substr(subject.size() - 5)) == " yenc")
        subject.remove_suffix(5);
    while (!subject.empty() && blank(subject.back()))
        subject.remove_suffix(1);
    size_t start = subject.size();
    while (start > 0 && !blank(subject[start - 1]))
        --start;
    return std::string(subject.substr(start));
}

std::optional<SetMember> SetMemberOf(const Attachment& entry) {
    if (entry.state == StateScanJob)
        return std::nullopt;
    SetFileName name = ClassifySetFile(PostedFileName(entry.filename));
    if (name.role == SetFileRole::plain || name.base.empty())
        return std::nullopt;
    std::string dir = entry.dir;
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return SetMember{{dir, ToLower(name.base)}, std::move(name)};
}

}  // namespace qs
