#include "app/single_instance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>

#include "app/debug_log.h"
#include "app/home_dir.h"
#include "app/text_util.h"

namespace qs {

namespace {

constexpr uint32_t kMaxMessage = 64 * 1024;

bool FillAddress(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool ReadExact(int fd, void* data, size_t size) {
    auto* out = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::recv(fd, out, size, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int ConnectTo(const std::string& path) {
    sockaddr_un address;
    if (!FillAddress(path, address))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

InstanceChecker::InstanceChecker(const std::string& home_dir)
    : lock_path_(JoinPath(home_dir, "quillstream.lock")),
      socket_path_(JoinPath(home_dir, "quillstream.sock")) {
    sockaddr_un probe;
    if (!FillAddress(socket_path_, probe)) {
        // Deep home directories exceed the socket path limit; use a name derived from it.
        socket_path_ = "/tmp/quillstream-" + std::to_string(::getuid()) + "-" +
                       std::to_string(std::hash<std::string>{}(home_dir)) + ".sock";
    }
}

InstanceChecker::~InstanceChecker() {
    if (listener_.joinable()) {
        char byte = 0;
        ssize_t unused = ::write(wake_pipe_[1], &byte, 1);
        (void)unused;
        listener_.join();
    }
    if (listen_fd_ >= 0) {
        ::close(listen_fd_);
        ::unlink(socket_path_.c_str());
    }
    for (int fd : wake_pipe_) {
        if (fd >= 0)
            ::close(fd);
    }
    Release();
}

bool InstanceChecker::TakeStartupLock() {
    return startup_lock_.Lock(lock_path_);
}

void InstanceChecker::Release() {
    startup_lock_.Unlock();
}

bool InstanceChecker::PreviousInstanceRunning() const {
    if (listen_fd_ >= 0)
        return false;
    int fd = ConnectTo(socket_path_);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool InstanceChecker::SendToPreviousInstance(int kind, const std::string& text) const {
    if (text.size() >= kMaxMessage)
        return false;
    int fd = ConnectTo(socket_path_);
    if (fd < 0)
        return false;
    uint32_t header[2] = {static_cast<uint32_t>(kind), static_cast<uint32_t>(text.size() + 1)};
    std::string message(reinterpret_cast<const char*>(header), sizeof header);
    message.append(text);
    message.push_back('\0');
    char ack = 0;
    bool ok = WriteAll(fd, message) && ReadExact(fd, &ack, 1) && ack == 1;
    ::close(fd);
    return ok;
}

bool InstanceChecker::Register(MessageHandler handler) {
    if (listen_fd_ >= 0)
        return true;
    if (PreviousInstanceRunning())
        return false;  // a second instance that runs anyway

    sockaddr_un address;
    if (!FillAddress(socket_path_, address))
        return false;
    ::unlink(socket_path_.c_str());  // a stale socket of an instance that died
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0 || ::pipe2(wake_pipe_, O_CLOEXEC) != 0) {
        LogLine("Single instance: cannot listen on %s: %s\n", socket_path_.c_str(),
                std::strerror(errno));
        ::close(fd);
        return false;
    }
    ::chmod(socket_path_.c_str(), 0600);
    listen_fd_ = fd;
    handler_ = std::move(handler);
    listener_ = std::thread([this] { Listen(); });
    Release();
    return true;
}

void InstanceChecker::Listen() {
    for (;;) {
        pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        timeval timeout{5, 0};  // a peer that stalls must not block the listener for long
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        uint32_t header[2];
        if (ReadExact(client, header, sizeof header) && header[1] > 0 && header[1] <= kMaxMessage) {
            std::string data(header[1], '\0');
            if (ReadExact(client, data.data(), data.size())) {
                data.resize(std::strlen(data.c_str()));  // up to the terminating zero
                if (handler_)
                    handler_(static_cast<int>(header[0]), data);
                char ack = 1;
                WriteAll(client, std::string_view(&ack, 1));
            }
        }
        ::close(client);
    }
}

}  // namespace qs
