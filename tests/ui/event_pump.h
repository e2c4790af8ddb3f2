#pragma once

#include <wx/app.h>
#include <wx/utils.h>

#include <chrono>
#include <functional>

namespace qs::ui {

// Runs the event loop until `done` holds or the time is up; true when it held.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        wxTheApp->ProcessPendingEvents();
        wxYield();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        wxMilliSleep(10);
    }
}

// Lets the queued events and a few redraws run.
inline void PumpFor(std::chrono::milliseconds time) {
    PumpUntil([] { return false; }, time);
}

}  // namespace qs::ui
