#include "app/events.h"

namespace qs {

const char* OutcomeName(EntryOutcome outcome) {
    switch (outcome) {
        case EntryOutcome::Done:
            return "done";
        case EntryOutcome::Incomplete:
            return "incomplete";
        case EntryOutcome::Failed:
            return "failed";
        case EntryOutcome::Stopped:
            return "stopped";
        case EntryOutcome::Unreachable:
            return "unreachable";
        case EntryOutcome::Scanned:
            return "scanned";
        case EntryOutcome::DiskFull:
            return "disk full";
    }
    return "?";
}

const char* OutcomeName(PartOutcome outcome) {
    switch (outcome) {
        case PartOutcome::Written:
            return "written";
        case PartOutcome::NotFound:
            return "not found";
        case PartOutcome::Refused:
            return "refused";
        case PartOutcome::ConnectionLost:
            return "connection lost";
        case PartOutcome::CrcFailed:
            return "CRC failed";
        case PartOutcome::Unreachable:
            return "no server reached";
        case PartOutcome::Stopped:
            return "stopped";
    }
    return "?";
}

int ScanReport::servers_scanned() const {
    int n = 0;
    for (const ServerScan& s : servers)
        n += s.complete ? 1 : 0;
    return n;
}

int ScanReport::servers_failed() const {
    return static_cast<int>(servers.size()) - servers_scanned();
}

std::string ScanReport::Summary() const {
    std::string text = std::to_string(servers_scanned()) + " servers scanned, " +
                       std::to_string(servers_failed()) + " failed";
    if (expired > 0)
        text += ", " + std::to_string(expired) + " expired";
    return text;
}

}  // namespace qs
