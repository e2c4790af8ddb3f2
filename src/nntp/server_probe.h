#pragma once

// Tries whether a host runs a news server the user can read from: the short dialogue the
// first-run search holds with each candidate.

#include <chrono>
#include <functional>
#include <string>

#include "app/settings.h"
#include "nntp/nntp_socket.h"

namespace qs {

struct ProbePauses {
    std::chrono::milliseconds before_try{500};   // after "Please wait. Trying: ..."
    std::chrono::milliseconds after_step{2000};  // after each answer shown, and a failure
};

struct ProbeResult {
    bool detected = false;
    bool needs_login = false;  // the group command was answered 48x
};

// Connects to the server's host and port (over TLS when it says so); with a user name sends
// AUTHINFO USER and PASS, reading one line after each; then reads one line that must be 2xx,
// sends "group alt.test" and reads the answer: 48x asks for a login, any other answer is a
// news server. Every step's text goes to `status`.
ProbeResult ProbeNewsServer(const ServerEntry& server, const SocketOptions& options,
                            const ProbePauses& pauses,
                            const std::function<void(const std::string&)>& status);

}  // namespace qs
