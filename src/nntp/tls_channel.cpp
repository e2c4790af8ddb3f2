#include "nntp/tls_channel.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <climits>

#include "nntp/tls_socket_bio.h"

namespace qs {

bool IsIpAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

namespace {

int ClampedSize(size_t size) {
    return size > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

}  // namespace

TlsChannel::~TlsChannel() {
    Close(false);
}

std::string TlsChannel::FailureReason(int result) const {
    long verify_result = SSL_get_verify_result(ssl_);
    unsigned long error = ERR_peek_last_error();
    std::string reason;
    if (error != 0) {
        const char* text = ERR_reason_error_string(error);
        reason = text ? text : "handshake failed";
    } else if (SSL_get_error(ssl_, result) == SSL_ERROR_SYSCALL) {
        reason = errno == EAGAIN || errno == EWOULDBLOCK ? "handshake timed out"
                                                         : "connection closed during handshake";
    } else {
        reason = "handshake failed";
    }
    if (verify_result != X509_V_OK)
        reason += std::string(" (") + X509_verify_cert_error_string(verify_result) + ")";
    return "TLS: " + reason;
}

std::string TlsChannel::Handshake(int fd, const std::string& host, TlsVerify verify) {
    Close(false);
    ERR_clear_error();
    context_ = SSL_CTX_new(TLS_client_method());
    if (!context_)
        return "TLS: cannot create a context";
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    // Several records per receive: fewer system calls on a fast download.
    SSL_CTX_set_read_ahead(context_, 1);
    SSL_CTX_set_default_read_buffer_len(context_, 64 * 1024);
    // AES-128 first: as safe for this use and cheaper per byte than the default AES-256.
    SSL_CTX_set_ciphersuites(context_,
                             "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                             "TLS_CHACHA20_POLY1305_SHA256");
    if (verify != TlsVerify::None) {
        // The system's store; SSL_CERT_FILE and SSL_CERT_DIR point elsewhere when set.
        SSL_CTX_set_default_verify_paths(context_);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(context_, SSL_VERIFY_NONE, nullptr);
    }
    ssl_ = SSL_new(context_);
    BIO* bio = ssl_ ? NewSocketBio(fd) : nullptr;
    if (!bio) {
        ERR_clear_error();
        return "TLS: cannot create a session";
    }
    SSL_set_bio(ssl_, bio, bio);
    SSL_set_mode(ssl_, SSL_MODE_AUTO_RETRY);
    const bool ip = IsIpAddress(host);
    if (!ip)
        SSL_set_tlsext_host_name(ssl_, host.c_str());
    if (verify == TlsVerify::Strict) {
        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        bool set = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str()) == 1
                      : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size()) == 1;
        if (!set) {
            ERR_clear_error();
            return "TLS: cannot verify the name " + host;
        }
    }
    errno = 0;
    int result = SSL_connect(ssl_);
    if (result != 1) {
        std::string reason = FailureReason(result);
        ERR_clear_error();
        return reason;
    }
    sound_ = true;
    return {};
}

ssize_t TlsChannel::Send(const char* data, size_t size) {
    if (!ssl_ || !sound_)
        return -1;
    int n = SSL_write(ssl_, data, ClampedSize(size));
    if (n <= 0) {
        sound_ = false;
        ERR_clear_error();
    }
    return n;
}

ssize_t TlsChannel::Receive(char* data, size_t size) {
    if (!ssl_ || !sound_)
        return -1;
    int n = SSL_read(ssl_, data, ClampedSize(size));
    if (n <= 0) {
        // A close_notify from the server leaves the session sound for our own.
        sound_ = SSL_get_error(ssl_, n) == SSL_ERROR_ZERO_RETURN;
        ERR_clear_error();
        return sound_ ? 0 : -1;
    }
    return n;
}

void TlsChannel::Close(bool notify) {
    if (ssl_) {
        if (notify && sound_)
            SSL_shutdown(ssl_);  // sends close_notify; the server's answer is not awaited
        SSL_free(ssl_);
        ssl_ = nullptr;
        ERR_clear_error();
    }
    if (context_) {
        SSL_CTX_free(context_);
        context_ = nullptr;
    }
    sound_ = false;
}

}  // namespace qs
