#pragma once

#include <string_view>

namespace qs {

// What a subject says about the file it belongs to.
struct SubjectCounter {
    std::string_view name;  // the subject up to the bracket of its counter (a view into it)
    int part_number = 1;
    int part_total = 1;
};

// Finds the last well-formed part counter of a subject, "(3/12)" or "[3/12]" (the closing
// character is not checked), and cuts the name at its opening bracket; everything after the
// counter is dropped and a blank before the bracket stays part of the name. The counter is
// only recognised with at least one non-bracket character before its bracket; when that
// character is the first of the subject, the name stays whole. A bracket followed by a
// number but no "/number" still sets the part number (the leftmost such one counts when no
// full counter exists); the total then stays 1.
SubjectCounter ParseSubjectCounter(std::string_view subject);

}  // namespace qs
