#include "nntp/server_rotation.h"

#include <algorithm>

namespace qs {

ServerRotation::ServerRotation(ThreadSlot& slot, std::shared_ptr<const Settings> settings)
    : slot_(slot), settings_(std::move(settings)) {}

int ServerRotation::index() const {
    int i = slot_.server_index.load();
    return i < 0 || i >= count() ? 0 : i;
}

const ServerEntry* ServerRotation::current() const {
    if (count() == 0)
        return nullptr;
    return &settings_->servers[static_cast<size_t>(index())];
}

std::string ServerRotation::host() const {
    const ServerEntry* server = current();
    return server ? server->host : std::string();
}

void ServerRotation::Next() {
    int next = index() + 1;
    slot_.server_index.store(next >= count() ? 0 : next);
}

bool ServerRotation::BackToFirst(int when) {
    if (settings_->UseFirstServer != when || slot_.server_index.load() == 0)
        return false;
    slot_.server_index.store(0);
    return true;
}

int ServerRotation::connect_attempts() const {
    return std::max(1, settings_->ConnectionRetries) * std::max(1, count());
}

int ServerRotation::part_retries() const {
    return std::max(1, count()) * std::max(0, settings_->ConnectionRetries);
}

}  // namespace qs
