#include "scan/overview_line.h"

#include "app/number_reader.h"
#include "scan/date_parser.h"
#include "scan/subject_parser.h"

namespace qs {

namespace {

bool IsUsableMessageId(std::string_view id) {
    if (id.empty())
        return false;
    for (char c : id) {
        auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127)
            return false;
    }
    return true;
}

}  // namespace

int64_t ReadOverviewNumber(std::string_view field) {
    int64_t value = 0;
    size_t pos = 0;
    if (!scanf_reader::ReadInt(field, pos, value))
        return 0;
    return value;
}

bool IsOverviewDataLine(std::string_view line) {
    return !line.empty() && scanf_reader::IsDigit(line.front());
}

OverviewFields SplitOverviewLine(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);

    OverviewFields fields;
    std::string_view* const slots[] = {&fields.number, &fields.subject,    &fields.from,
                                       &fields.date,   &fields.message_id, &fields.references,
                                       &fields.bytes,  &fields.lines};
    for (std::string_view* slot : slots) {
        size_t tab = line.find('\t');
        *slot = line.substr(0, tab);
        if (tab == std::string_view::npos)
            break;
        line.remove_prefix(tab + 1);
    }
    return fields;
}

void ParseOverviewFields(const OverviewFields& fields, OverviewRecord& record) {
    record.number = ReadOverviewNumber(fields.number);
    record.from = fields.from;
    record.date = fields.date.empty() ? 0 : ParseOverviewDate(fields.date);
    record.message_id = fields.message_id;
    record.bytes = ReadOverviewNumber(fields.bytes);
    record.lines = ReadOverviewNumber(fields.lines);

    SubjectCounter counter = ParseSubjectCounter(fields.subject);
    record.subject = counter.name;
    record.part_number = counter.part_number;
    record.part_total = counter.part_total;
}

OverviewRecord ParseOverviewLine(std::string_view line) {
    OverviewRecord record;
    ParseOverviewFields(SplitOverviewLine(line), record);
    return record;
}

bool ToScannedArticle(const OverviewRecord& record, ScannedArticle& out) {
    if (!IsUsableMessageId(record.message_id))
        return false;
    out.message_id = record.message_id;
    out.id = record.part_total == 1 ? record.message_id : record.subject;
    out.filename = record.subject;
    out.email = record.from;
    out.article_id = record.number;
    out.lines = record.lines;
    out.bytes = record.bytes;
    out.date = record.date;
    out.partnum = record.part_number;
    out.parts = record.part_total;
    return true;
}

}  // namespace qs
