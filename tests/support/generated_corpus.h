#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/news_server.h"

namespace qs::test {

struct CorpusOptions {
    uint64_t seed = 1;
    int64_t big_megabytes = 16;  // the size of alt.binaries.big
    int missing_percent = 0;     // parts the server answers 430 for although the NZB lists them
    // Last, so that {seed, big_megabytes, missing_percent} keeps its meaning.
    int64_t big_file_megabytes = 100;  // the largest file in alt.binaries.big
};

// Text escaped for an XML attribute or element (&, <, > and ").
std::string XmlEscape(const std::string& text);

enum class CorpusEncoding { YEnc, UU, Base64, Text };

// One file (or text article) of the corpus.
struct CorpusFile {
    std::string name;
    std::string group;
    std::string poster;
    std::string subject;  // of part 1
    CorpusEncoding encoding = CorpusEncoding::YEnc;
    uint64_t size = 0;        // decoded bytes
    uint64_t part_bytes = 0;  // decoded bytes per part
    int parts = 1;
    int64_t first_number = 0;  // article number of part 1; the parts follow in order
    int64_t date = 0;          // seconds since 1970
};

// A corpus made up from a seed: the same seed always gives the same groups, articles and
// bytes. Article bodies are generated when asked for, so a gigabyte costs no memory.
//   alt.binaries.test   yEnc multi-part and single-part files, UU and MIME base64
//                       multi-part files and a few text posts
//   alt.binaries.big    large yEnc files, big_megabytes in all (for benchmarks)
//   alt.test.text       text articles and follow-ups
//   alt.binaries.empty  no articles
class GeneratedCorpus : public NewsCorpus {
  public:
    explicit GeneratedCorpus(CorpusOptions options = {});

    const std::vector<CorpusFile>& files() const { return files_; }
    // The decoded content of a file, or a piece of it.
    void FileBytes(size_t file, uint64_t offset, size_t size, char* out) const;
    std::string FileData(size_t file) const;
    std::string Sha256Hex(size_t file) const;
    // The NZB of every binary file, and "sha256  name" lines of the same files.
    std::string Nzb() const;
    std::string Sha256List() const;
    bool PartMissing(size_t file, int part) const;
    // Computes the whole-file CRCs that the last yEnc part of each file carries (otherwise
    // computed when such a part is first asked for). Safe while serving.
    void PrepareChecksums() const;
    std::string PartMessageId(size_t file, int part) const;  // with angle brackets
    std::string PartSubject(size_t file, int part) const;

    std::vector<GroupInfo> Groups() const override { return groups_; }
    std::optional<size_t> FindGroup(std::string_view name) const override;
    bool Find(size_t group, int64_t number, ArticleKey& key) const override;
    bool FindId(std::string_view message_id, ArticleKey& key) const override;
    std::string MessageId(const ArticleKey& key) const override;
    void AppendHead(const ArticleKey& key, std::string& out) const override;
    void AppendBody(const ArticleKey& key, std::string& out) const override;
    bool AppendBodyStreaming(const ArticleKey& key, std::string& out,
                             const std::function<bool(std::string&)>& flush) const override;
    void AppendOverview(const ArticleKey& key, std::string& out) const override;

  private:
    struct Slot {
        size_t file;
        int part;
    };
    const Slot* Lookup(const ArticleKey& key) const;
    void AddFile(CorpusFile file, size_t group);
    uint32_t FileCrc(size_t file) const;
    bool AppendYEnc(size_t file, int part, std::string& out,
                    const std::function<bool(std::string&)>* flush) const;
    void AppendUU(size_t file, int part, std::string& out) const;
    void AppendBase64(size_t file, int part, std::string& out) const;
    void AppendText(size_t file, std::string& out) const;

    CorpusOptions options_;
    std::vector<GroupInfo> groups_;
    std::vector<std::vector<Slot>> slots_;  // per group, by number - first
    std::vector<CorpusFile> files_;
    std::unordered_map<std::string, ArticleKey> ids_;
    mutable std::mutex crc_mutex_;
    mutable std::vector<std::optional<uint32_t>> crcs_;
};

// A base corpus with one large group on top, listed after the base's groups: `articles`
// overview lines in the style of today's binary posts (50-part sets with random names, long
// random message-ids), each made from its article number when asked for, so a group of
// millions of headers costs no memory. Every article's body is one short line. For
// benchmarks of the scan.
class ScanGroupCorpus : public NewsCorpus {
  public:
    static constexpr const char* kGroupName = "alt.binaries.scan";
    static constexpr int kSetParts = 50;    // articles of one file
    static constexpr int kSetVolumes = 20;  // files of one set

    // `base` may be null: the scan group is then the only one. Its articles are numbered
    // 1, 1 + step, 1 + 2 step, ...: a step above 1 gives a wide range of few lines.
    ScanGroupCorpus(std::shared_ptr<const NewsCorpus> base, int64_t articles, int64_t step = 1);

    size_t scan_group() const { return base_groups_; }

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

  private:
    bool Ours(const ArticleKey& key) const;
    void AppendSubject(int64_t number, std::string& out) const;
    void AppendMessageId(int64_t number, std::string& out) const;

    std::shared_ptr<const NewsCorpus> base_;
    size_t base_groups_ = 0;
    int64_t articles_ = 0;
    int64_t step_ = 1;
    std::string date_;
};

}  // namespace qs::test
