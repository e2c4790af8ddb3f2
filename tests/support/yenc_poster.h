#pragma once

#include <string>
#include <vector>

#include "support/news_server.h"

namespace qs::test {

// Posts `data` to `group` of the corpus as a yEnc binary named `name`, in parts of
// `part_size` bytes, as a newsreader posts one file of a set: subject
// "\"name\" yEnc (i/n)", each part with "=ybegin part= total=", "=ypart begin= end=" and
// "=yend" with the part's and the whole file's CRC-32. Returns the parts' message-ids in
// order, angle brackets included.
std::vector<std::string> PostYencFile(MemoryCorpus& corpus, const std::string& group,
                                      const std::string& name, const std::string& data,
                                      size_t part_size);

}  // namespace qs::test
