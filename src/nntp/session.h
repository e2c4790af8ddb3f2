#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "nntp/nntp_socket.h"
#include "nntp/server_rotation.h"
#include "nntp/worker_state.h"

namespace qs {

// The number at the start of a reply line ("%d"), or -1 when the line has none (an empty
// line after a time-out or a closed connection included).
int ReplyCode(std::string_view line);

// Opens a greeted and, when the server entry has a user name, logged-in connection for the
// slot, starting at the rotation's current server. A failed attempt moves the rotation on;
// without single_attempt the servers are tried in a ring for as long as the slot's work
// goes on, at most rotation.connect_attempts() times. The connection stays registered in
// the slot until it is destroyed. `status` may be null.
SlotConnection ConnectToServer(WorkerState& state, int slot, ServerRotation& rotation,
                               StatusText* status, bool single_attempt);

// The TLS a connection to this server speaks.
TlsOptions TlsOptionsOf(const ServerEntry& server);

// GROUP; true when the server answered 211.
bool SelectGroup(NntpSocket& connection, const std::string& group);

}  // namespace qs
