#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/header_db.h"

namespace qs {

// The tab-separated fields of one XOVER line, as views into the line. A missing field is
// empty; fields after the eighth are ignored.
struct OverviewFields {
    std::string_view number;
    std::string_view subject;
    std::string_view from;
    std::string_view date;
    std::string_view message_id;
    std::string_view references;
    std::string_view bytes;
    std::string_view lines;
};

// True for a line that carries an article (its first character is a decimal digit); status
// lines and the terminating "." are not.
bool IsOverviewDataLine(std::string_view line);

// A numeric overview field (article number, bytes, lines) read as a decimal number: leading
// blanks and a sign allowed, anything after the digits ignored, 0 when there is no number.
// Values beyond 64 bits saturate.
int64_t ReadOverviewNumber(std::string_view field);

// Splits a line at single tabs. A line end (CR, LF) is not part of any field.
OverviewFields SplitOverviewLine(std::string_view line);

// One overview line after parsing, its texts as views into the line. `subject` holds the
// attachment name: the subject with its part counter and everything after it cut off.
struct OverviewRecord {
    int64_t number = 0;
    std::string_view subject;
    std::string_view from;
    int64_t date = 0;  // seconds since 1970 UTC, 0 when the Date field does not parse
    std::string_view message_id;
    int64_t bytes = 0;
    int64_t lines = 0;
    int part_number = 1;
    int part_total = 1;
};

// Parses the fields into `record`. Numbers are read as decimal; text that is not a number
// gives 0.
void ParseOverviewFields(const OverviewFields& fields, OverviewRecord& record);
OverviewRecord ParseOverviewLine(std::string_view line);

// The article one overview line contributes to a group's database, and what names its
// attachment, for HeaderDatabase::StoreScanned, as views into the texts `record` views: a
// single-part post is keyed by its Message-ID, a multi-part one by its name. False when the
// line cannot name an article: its Message-ID is empty or holds control characters.
bool ToScannedArticle(const OverviewRecord& record, ScannedArticle& out);

}  // namespace qs
