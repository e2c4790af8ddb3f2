#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/news_server.h"

namespace qs::test {

// A read-only corpus with the articles posted to it on top: a posted article is kept in
// memory and can be read by its message-id. Posts to a group the base serves are read by
// id only (the base's numbering stays as it is); posts to any other group make that group,
// listed after the base's, with its own numbers.
class PostingCorpus : public NewsCorpus {
  public:
    explicit PostingCorpus(std::shared_ptr<const NewsCorpus> base);

    std::vector<GroupInfo> Groups() const override;
    std::optional<size_t> FindGroup(std::string_view name) const override;
    bool Find(size_t group, int64_t number, ArticleKey& key) const override;
    bool FindId(std::string_view message_id, ArticleKey& key) const override;
    std::string MessageId(const ArticleKey& key) const override;
    void AppendHead(const ArticleKey& key, std::string& out) const override;
    void AppendBody(const ArticleKey& key, std::string& out) const override;
    bool AppendBodyStreaming(const ArticleKey& key, std::string& out,
                             const std::function<bool(std::string&)>& flush) const override;
    void AppendOverview(const ArticleKey& key, std::string& out) const override;
    bool Post(const std::vector<std::string>& lines, std::string& message_id) override;

  private:
    // Keys of posted articles carry base_groups_ + their group's index in posted_; the
    // listed groups leave out posted groups that share a base group's name, so a listed
    // index maps to posted_ through ListedPostedGroups().
    std::optional<ArticleKey> PostedKey(const ArticleKey& key) const;
    std::vector<size_t> ListedPostedGroups() const;

    std::shared_ptr<const NewsCorpus> base_;
    size_t base_groups_ = 0;
    MemoryCorpus posted_;
};

}  // namespace qs::test
