#include "ui/tip_reader.h"

namespace qs::ui {

namespace {
constexpr size_t kMaxTip = 1000;
}

TipReader::TipReader(const std::string& path, int64_t offset) : file_(path, std::ios::binary) {
    ok_ = file_.is_open();
    if (!ok_)
        return;
    file_.seekg(0, std::ios::end);
    const int64_t size = file_.tellg();
    offset_ = offset >= 0 && offset < size ? offset : 0;
    file_.seekg(offset_);
}

bool TipReader::ReadTip(std::string& tip) {
    std::string line;
    while (std::getline(file_, line)) {
        offset_ = file_.tellg() < 0 ? offset_ : static_cast<int64_t>(file_.tellg());
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '\t' || line[0] == ' ' || line[0] == ';')
            continue;
        tip = line.substr(0, kMaxTip);
        return true;
    }
    return false;
}

std::string TipReader::Next() {
    if (!ok_)
        return {};
    std::string tip;
    if (ReadTip(tip))
        return tip;
    // The end of the file: start over once.
    file_.clear();
    file_.seekg(0);
    offset_ = 0;
    if (ReadTip(tip))
        return tip;
    ok_ = false;
    return {};
}

}  // namespace qs::ui
