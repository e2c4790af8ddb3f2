#include "ui/list_text.h"

#include <cstdio>
#include <ctime>

namespace qs::ui {

std::string SizeText(uint64_t bytes) {
    char text[64];
    if (bytes <= 1048576)
        std::snprintf(text, sizeof text, "%.2f KB", static_cast<double>(bytes) / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1048576.0);
    return text;
}

std::string TimeText(int64_t seconds) {
    // Built by hand rather than with strftime: the GUI runs in the user's locale, and the
    // column keeps the fixed English 24-character form whatever the locale says.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (!localtime_r(&time, &local) || local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 ||
        local.tm_mon > 11)
        return {};
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[local.tm_wday],
                  kMonths[local.tm_mon], local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
    return text;
}

std::string LastScannedText(int64_t seconds) {
    return seconds == 0 ? std::string("Never...") : TimeText(seconds);
}

namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when none starts there.
size_t Utf8SequenceAt(std::string_view text, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint32_t min = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    uint32_t code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

std::string DisplayUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (size_t length = Utf8SequenceAt(text, i)) {
            out.append(text.substr(i, length));
            i += length;
        } else {
            const auto byte = static_cast<unsigned char>(text[i++]);
            out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
            out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    return out;
}

std::string ResultText(std::string_view reason, bool held) {
    if (reason.empty())
        return held ? "Held until a repair needs it" : "";
    const size_t set = reason.rfind("; set: ");
    if (set == std::string_view::npos)
        return DisplayUtf8(reason);
    return DisplayUtf8(std::string(reason.substr(set + 2)) + "; " +
                       std::string(reason.substr(0, set)));
}

}  // namespace qs::ui
