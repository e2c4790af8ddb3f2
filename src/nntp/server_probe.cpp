#include "nntp/server_probe.h"

#include <thread>

#include "app/debug_log.h"
#include "app/text_util.h"
#include "nntp/session.h"

namespace qs {

namespace {

constexpr size_t kProbeLineSize = 2048;

}  // namespace

ProbeResult ProbeNewsServer(const ServerEntry& server, const SocketOptions& options,
                            const ProbePauses& pauses,
                            const std::function<void(const std::string&)>& status) {
    auto tell = [&](const std::string& text) {
        if (status)
            status(text);
    };
    const std::string& host = server.host;
    const std::string& user = server.user;
    const std::string trying = "Please wait. Trying: " + host;
    tell(trying);
    std::this_thread::sleep_for(pauses.before_try);

    NntpSocket connection(options);
    connection.Open(host, server.port, TlsOptionsOf(server));
    if (!connection.is_open()) {
        const std::string& why = connection.open_error();
        tell(trying + ". Failed." + (why.empty() ? "" : " " + why));
        std::this_thread::sleep_for(pauses.after_step);
        return {};
    }
    auto read = [&] {
        std::string line;
        connection.ReadLine(line, kProbeLineSize);
        line = WithoutLineEnd(line);
        LogLine("Probe %s: %s\n", host.c_str(), line.c_str());
        return line;
    };
    // One answer shown; its reply code.
    auto show = [&](const std::string& line) {
        tell("Got response: " + line);
        std::this_thread::sleep_for(pauses.after_step);
        return ReplyCode(line);
    };

    ProbeResult result;
    // With a login each answer is shown one command late: the greeting after the user
    // name is sent, the user name's answer after the password, and the password's answer
    // where the greeting is checked. Each is read before the next command goes out, as a
    // command drops unread input.
    if (!user.empty()) {
        const std::string greeting = read();
        connection.SendCommand("AUTHINFO USER " + user);
        show(greeting);
        const std::string user_answer = read();
        connection.SendCommand("AUTHINFO PASS " + server.password);
        if (show(user_answer) == 502) {
            connection.Close();
            return result;
        }
    }
    if (show(read()) / 100 != 2) {
        connection.Close();
        return result;
    }
    connection.SendCommand("group alt.test");
    if (show(read()) / 10 == 48) {
        tell("Please enter a username and password from your Internet Provider and retry.");
        result.needs_login = true;
    } else {
        result.detected = true;
    }
    connection.Close();
    return result;
}

}  // namespace qs
