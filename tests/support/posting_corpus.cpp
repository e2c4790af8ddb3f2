#include "support/posting_corpus.h"

#include <utility>

namespace qs::test {

PostingCorpus::PostingCorpus(std::shared_ptr<const NewsCorpus> base)
    : base_(std::move(base)), base_groups_(base_->Groups().size()) {
    posted_.SetCreateGroupsOnPost(true);
}

std::optional<ArticleKey> PostingCorpus::PostedKey(const ArticleKey& key) const {
    if (key.group < base_groups_)
        return std::nullopt;
    return ArticleKey{key.group - base_groups_, key.number};
}

std::vector<size_t> PostingCorpus::ListedPostedGroups() const {
    std::vector<size_t> listed;
    std::vector<GroupInfo> groups = posted_.Groups();
    for (size_t i = 0; i < groups.size(); ++i) {
        if (!base_->FindGroup(groups[i].name))
            listed.push_back(i);
    }
    return listed;
}

std::vector<GroupInfo> PostingCorpus::Groups() const {
    std::vector<GroupInfo> groups = base_->Groups();
    std::vector<GroupInfo> posted = posted_.Groups();
    for (size_t i : ListedPostedGroups())
        groups.push_back(posted[i]);
    return groups;
}

std::optional<size_t> PostingCorpus::FindGroup(std::string_view name) const {
    if (auto group = base_->FindGroup(name))
        return group;
    auto group = posted_.FindGroup(name);
    if (!group)
        return std::nullopt;
    std::vector<size_t> listed = ListedPostedGroups();
    for (size_t i = 0; i < listed.size(); ++i) {
        if (listed[i] == *group)
            return base_groups_ + i;
    }
    return std::nullopt;
}

bool PostingCorpus::Find(size_t group, int64_t number, ArticleKey& key) const {
    if (group < base_groups_)
        return base_->Find(group, number, key);
    std::vector<size_t> listed = ListedPostedGroups();
    if (group - base_groups_ >= listed.size() ||
        !posted_.Find(listed[group - base_groups_], number, key))
        return false;
    key.group += base_groups_;
    return true;
}

bool PostingCorpus::FindId(std::string_view message_id, ArticleKey& key) const {
    if (base_->FindId(message_id, key))
        return true;
    if (!posted_.FindId(message_id, key))
        return false;
    key.group += base_groups_;
    return true;
}

std::string PostingCorpus::MessageId(const ArticleKey& key) const {
    auto posted = PostedKey(key);
    return posted ? posted_.MessageId(*posted) : base_->MessageId(key);
}

void PostingCorpus::AppendHead(const ArticleKey& key, std::string& out) const {
    if (auto posted = PostedKey(key))
        posted_.AppendHead(*posted, out);
    else
        base_->AppendHead(key, out);
}

void PostingCorpus::AppendBody(const ArticleKey& key, std::string& out) const {
    if (auto posted = PostedKey(key))
        posted_.AppendBody(*posted, out);
    else
        base_->AppendBody(key, out);
}

bool PostingCorpus::AppendBodyStreaming(const ArticleKey& key, std::string& out,
                                        const std::function<bool(std::string&)>& flush) const {
    if (auto posted = PostedKey(key)) {
        posted_.AppendBody(*posted, out);
        return true;
    }
    return base_->AppendBodyStreaming(key, out, flush);
}

void PostingCorpus::AppendOverview(const ArticleKey& key, std::string& out) const {
    if (auto posted = PostedKey(key))
        posted_.AppendOverview(*posted, out);
    else
        base_->AppendOverview(key, out);
}

bool PostingCorpus::Post(const std::vector<std::string>& lines, std::string& message_id) {
    return posted_.Post(lines, message_id);
}

}  // namespace qs::test
