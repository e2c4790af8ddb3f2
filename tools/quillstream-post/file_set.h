#pragma once

#include <string>
#include <vector>

#include "support/news_server.h"

namespace qs::test {

// Files read from disk and laid out as yEnc articles in one group of a MemoryCorpus, as a
// newsreader posts a set: one subject per file, "(i/n)" parts of `part_size` bytes.
class PostedFileSet {
  public:
    struct Part {
        ArticleKey key;
        std::string message_id;  // with angle brackets
        size_t bytes = 0;        // decoded bytes in this part
    };
    struct File {
        std::string name;
        std::vector<Part> parts;
    };

    // Throws std::runtime_error when a file cannot be read.
    PostedFileSet(const std::string& group, const std::vector<std::string>& paths,
                  size_t part_size);

    MemoryCorpus& corpus() { return corpus_; }
    const std::vector<File>& files() const { return files_; }
    // An NZB naming every part, posted or not.
    std::string Nzb(const std::string& poster) const;

  private:
    std::string group_;
    MemoryCorpus corpus_;
    std::vector<File> files_;
};

}  // namespace qs::test
