#include "scan/subject_parser.h"

#include "app/number_reader.h"

namespace qs {

namespace {
bool IsBracket(char c) {
    return c == '(' || c == '[';
}
}  // namespace

// The search tries every start position from the end of the subject and reads
// "<non-brackets><any char><int>/<int>" there. A start position always reads the counter
// behind the first bracket after it, so the positions between two brackets all give the
// same result, and the first one tried is the one just before the bracket. Walking the
// brackets from the end therefore gives the same answer in linear time.
SubjectCounter ParseSubjectCounter(std::string_view subject) {
    using scanf_reader::ReadInt;
    using scanf_reader::ReadLiteral;

    SubjectCounter result;
    result.name = subject;
    for (size_t bracket = subject.size(); bracket-- > 1;) {
        if (!IsBracket(subject[bracket]))
            continue;
        // The run of non-brackets before the bracket must not be empty.
        if (IsBracket(subject[bracket - 1]))
            continue;
        size_t pos = bracket + 1;
        int number = 0;
        if (!ReadInt(subject, pos, number))
            continue;
        result.part_number = number;
        int total = 0;
        if (!ReadLiteral(subject, pos, '/') || !ReadInt(subject, pos, total))
            continue;
        result.part_total = total;
        // The winning start is the character before the bracket; the name ends after it,
        // unless that character is the first of the subject.
        if (bracket - 1 > 0)
            result.name = subject.substr(0, bracket);
        return result;
    }
    return result;
}

}  // namespace qs
