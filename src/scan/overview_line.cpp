#include "scan/overview_line.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <iterator>

#include "app/number_reader.h"
#include "scan/date_parser.h"
#include "scan/subject_parser.h"

namespace qs {

namespace {

// No control character (below 32, or DEL). Checked sixteen bytes a step where SSE2 is there:
// byte by byte, the loop's end was mispredicted on every line, IDs differ in length.
bool IsUsableMessageId(std::string_view id) {
    if (id.empty())
        return false;
    const char* at = id.data();
    const char* const end = at + id.size();
#if defined(__SSE2__)
    const __m128i highest_control = _mm_set1_epi8(31);
    const __m128i del = _mm_set1_epi8(127);
    for (; end - at >= 16; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i control =
            _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(bytes, highest_control), bytes),
                         _mm_cmpeq_epi8(bytes, del));
        if (_mm_movemask_epi8(control) != 0)
            return false;
    }
#endif
    for (; at < end; ++at) {
        auto u = static_cast<unsigned char>(*at);
        if (u < 32 || u == 127)
            return false;
    }
    return true;
}

// Where the first `wanted` tabs of `line` are (fewer when it has fewer); returns how many.
// Sixteen bytes a step where SSE2 is there: one search for all of them, instead of one for
// each short field.
size_t FindTabs(std::string_view line, size_t* tabs, size_t wanted) {
    size_t found = 0, at = 0;
#if defined(__SSE2__)
    const __m128i tab = _mm_set1_epi8('\t');
    for (; at + 16 <= line.size() && found < wanted; at += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line.data() + at));
        auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, tab)));
        for (; hits != 0 && found < wanted; hits &= hits - 1)
            tabs[found++] = at + static_cast<size_t>(__builtin_ctz(hits));
    }
#endif
    for (; at < line.size() && found < wanted; ++at) {
        if (line[at] == '\t')
            tabs[found++] = at;
    }
    return found;
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
    constexpr size_t kSlots = std::size(slots);
    size_t tabs[kSlots];
    const size_t found = FindTabs(line, tabs, kSlots);
    size_t start = 0;
    for (size_t i = 0; i < kSlots; ++i) {
        const size_t end = i < found ? tabs[i] : line.size();
        *slots[i] = line.substr(start, end - start);
        if (i >= found)
            break;  // the rest of the line was the last field
        start = end + 1;
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
