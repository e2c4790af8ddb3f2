#pragma once

#include <openssl/ssl.h>

#include <sys/types.h>
#include <string>

namespace qs {

// How far a TLS connection trusts the server's certificate.
enum class TlsVerify : int {
    None = 0,    // any certificate
    Chain = 1,   // one that chains to the system's certificate store, for any name
    Strict = 2,  // that, and issued for the host name (or IP address) connected to
};

// An IPv4 or IPv6 address rather than a host name: certificates name it another way.
bool IsIpAddress(const std::string& host);

// Whether a connection speaks TLS, and how it verifies the server.
struct TlsOptions {
    bool enabled = false;
    TlsVerify verify = TlsVerify::Strict;
};

// The client side of TLS over a connected, blocking socket. The socket's own time-outs
// bound every read and write; a shutdown of the socket from another thread ends a blocked
// one. One thread uses the channel; it never closes the socket.
class TlsChannel {
  public:
    TlsChannel() = default;
    ~TlsChannel();
    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Handshakes with SNI for `host` and verifies as asked. Returns the empty text when the
    // connection is ready, otherwise why it is not, starting "TLS: ".
    std::string Handshake(int fd, const std::string& host, TlsVerify verify);

    // As send and recv: > 0 bytes moved, <= 0 the connection has failed or ended.
    ssize_t Send(const char* data, size_t size);
    ssize_t Receive(char* data, size_t size);

    // Sends close_notify first when `notify` and the connection is still sound, then
    // frees the session.
    void Close(bool notify);

  private:
    // Why the last operation failed, for a handshake's message.
    std::string FailureReason(int result) const;

    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    bool sound_ = false;  // handshake done, no read or write failed since
};

}  // namespace qs
