#include "postprocess/par2_output.h"

#include <cctype>
#include <charconv>
#include <climits>

#include "app/text_util.h"

namespace qs {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The number at the start of text, or -1.
int LeadingNumber(std::string_view text) {
    int value = -1;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data() ? value : -1;
}

// "prefix N suffix" -> N, or -1 when the line has another shape.
int NumberBetween(std::string_view line, std::string_view prefix, std::string_view suffix) {
    if (!StartsWith(line, prefix) || line.size() < prefix.size() + suffix.size() ||
        line.substr(line.size() - suffix.size()) != suffix)
        return -1;
    const std::string_view middle =
        line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    const int value = LeadingNumber(middle);
    return value >= 0 && std::to_string(value).size() == middle.size() ? value : -1;
}

}  // namespace

std::optional<Par2Progress> ParsePar2Progress(std::string_view line) {
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos || colon == 0 || line.empty() || line.back() != '%')
        return std::nullopt;
    const std::string_view number = line.substr(colon + 2, line.size() - colon - 3);
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string_view::npos)
        return std::nullopt;
    for (char c : line.substr(0, colon)) {
        if (!(std::isalpha(static_cast<unsigned char>(c)) || c == ' '))
            return std::nullopt;
    }
    Par2Progress progress{std::string(line.substr(0, colon)), 0};
    // from_chars: a "." whatever the program's locale, as par2 prints it.
    std::from_chars(number.data(), number.data() + number.size(), progress.percent);
    return progress;
}

void AddPar2Line(std::string_view raw, Par2Report& report) {
    const std::string_view line = Trim(raw);
    if (line.empty() || ParsePar2Progress(line))
        return;
    report.last_line = std::string(line);
    if (line == "All files are correct, repair is not required.")
        report.all_correct = true;
    else if (line == "Repair is required.")
        report.repair_required = true;
    else if (line == "Repair is possible.")
        report.repair_possible = true;
    else if (line == "Repair is not possible.")
        report.repair_not_possible = true;
    else if (line == "Repair complete.")
        report.repair_complete = true;
    else if (int n = NumberBetween(line, "You have ", " recovery blocks available."); n >= 0)
        report.blocks_available = n;
    else if (int n =
                 NumberBetween(line, "You need ", " more recovery blocks to be able to repair.");
             n >= 0)
        report.blocks_missing = n;
    else if (int n = NumberBetween(line, "", " recovery blocks will be used to repair."); n >= 0)
        report.blocks_used = n;
    else if (StartsWith(line, "Loaded ") && line.find(" including ") != line.npos) {
        const int blocks =
            NumberBetween(line.substr(line.find(" including ")), " including ", " recovery blocks");
        // Summed over every volume's line: saturates, whatever numbers the lines hold.
        if (blocks > 0)
            report.blocks_loaded =
                blocks > INT_MAX - report.blocks_loaded ? INT_MAX : report.blocks_loaded + blocks;
    } else if (StartsWith(line, "You have ") && line.find(" data blocks available.") != line.npos) {
        // "You have 1960 out of 2000 data blocks available."
        const std::string_view rest = line.substr(9);
        const int present = LeadingNumber(rest);
        const size_t out_of = rest.find(" out of ");
        if (present >= 0 && out_of != std::string_view::npos) {
            const int total = LeadingNumber(rest.substr(out_of + 8));
            if (total >= present) {
                report.data_blocks_present = present;
                report.data_blocks_total = total;
            }
        }
    }
}

}  // namespace qs
