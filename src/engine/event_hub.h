#pragma once

#include <mutex>

#include "app/events.h"

namespace qs {

// Hands every event to the engine's one listener, one call at a time, so a listener needs
// no locking of its own. A listener may call back into the engine from an event (the
// lock is recursive).
class EventHub : public EventListener {
  public:
    void SetListener(EventListener* listener) {
        std::lock_guard lock(mutex_);
        listener_ = listener;
    }

    void OnSlotStatus(int slot, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnSlotStatus(slot, text);
    }
    void OnRowsChanged(const std::string& database, const std::vector<std::string>& ids) override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnRowsChanged(database, ids);
    }
    void OnEntryFiled(const FiledEntry& entry) override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnEntryFiled(entry);
    }
    void OnSetProcessed(const ProcessedSet& set) override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnSetProcessed(set);
    }
    void OnScanEnded(const ScanReport& report) override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnScanEnded(report);
    }
    void OnGroupListChanged() override {
        std::lock_guard lock(mutex_);
        if (listener_)
            listener_->OnGroupListChanged();
    }

  private:
    std::recursive_mutex mutex_;
    EventListener* listener_ = nullptr;
};

}  // namespace qs
