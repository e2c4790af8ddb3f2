#include "postprocess/set_names.h"

#include <charconv>
#include <climits>

#include "app/text_util.h"

namespace qs {
namespace {

bool AllDigits(std::string_view text) {
    if (text.empty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

int ToNumber(std::string_view digits) {
    int value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size() ? value : INT_MAX;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

SetFileName Make(std::string_view name, size_t base_length, SetFileRole role, int volume = 0,
                 int blocks = 0) {
    return {std::string(name.substr(0, base_length)), role, volume, blocks};
}

// "name.vol03+04.par2": the part between ".vol" and ".par2" is "first+count".
bool ParseRecoveryVolume(std::string_view name, std::string_view lower, SetFileName& out) {
    const std::string_view stem = lower.substr(0, lower.size() - 5);
    const size_t vol = stem.rfind(".vol");
    if (vol == std::string_view::npos || vol == 0)
        return false;
    const std::string_view range = stem.substr(vol + 4);
    const size_t plus = range.find('+');
    if (plus == std::string_view::npos || !AllDigits(range.substr(0, plus)) ||
        !AllDigits(range.substr(plus + 1)))
        return false;
    out = Make(name, vol, SetFileRole::par2_recovery, 0, ToNumber(range.substr(plus + 1)));
    return true;
}

}  // namespace

SetFileName ClassifySetFile(std::string_view name) {
    const std::string lower = ToLower(name);
    const std::string_view text = lower;
    const size_t dot = text.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return Make(name, name.size(), SetFileRole::plain);
    const std::string_view ext = text.substr(dot + 1);
    const std::string_view stem = text.substr(0, dot);

    if (ext == "par2") {
        SetFileName recovery;
        if (ParseRecoveryVolume(name, text, recovery))
            return recovery;
        return Make(name, dot, SetFileRole::par2_index);
    }
    if (ext == "rar") {
        const size_t part = stem.rfind(".part");
        if (part != std::string_view::npos && part > 0 && AllDigits(stem.substr(part + 5)))
            return Make(name, part, SetFileRole::rar_volume, ToNumber(stem.substr(part + 5)) - 1);
        return Make(name, dot, SetFileRole::rar_volume, 0);
    }
    if (ext.size() == 3 && ext[0] == 'r' && AllDigits(ext.substr(1)))
        return Make(name, dot, SetFileRole::rar_volume, ToNumber(ext.substr(1)) + 1);
    if (ext == "7z")
        return Make(name, dot, SetFileRole::sevenzip_volume, 0);
    if (AllDigits(ext) && EndsWith(stem, ".7z") && stem.size() > 3)
        return Make(name, stem.size() - 3, SetFileRole::sevenzip_volume, ToNumber(ext) - 1);
    if (ext == "zip")
        return Make(name, dot, SetFileRole::zip_volume, INT_MAX);
    if (ext.size() == 3 && ext[0] == 'z' && AllDigits(ext.substr(1)))
        return Make(name, dot, SetFileRole::zip_volume, ToNumber(ext.substr(1)) - 1);
    return Make(name, dot, SetFileRole::plain);
}

bool IsArchiveVolume(SetFileRole role) {
    return role == SetFileRole::rar_volume || role == SetFileRole::sevenzip_volume ||
           role == SetFileRole::zip_volume;
}

}  // namespace qs
