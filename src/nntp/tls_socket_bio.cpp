#include "nntp/tls_socket_bio.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <mutex>

namespace qs {

namespace {

int FdOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(bio)));
}

int SocketWrite(BIO* bio, const char* data, int size) {
    ssize_t n;
    do {
        n = ::send(FdOf(bio), data, static_cast<size_t>(size), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int SocketRead(BIO* bio, char* data, int size) {
    ssize_t n;
    do {
        n = ::recv(FdOf(bio), data, static_cast<size_t>(size), 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

long SocketControl(BIO* bio, int command, long number, void* pointer) {
    (void)bio;
    (void)number;
    (void)pointer;
    // Writes go straight to the socket, so there is never anything to flush.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int SocketCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "qs socket");
        BIO_meth_set_write(m, SocketWrite);
        BIO_meth_set_read(m, SocketRead);
        BIO_meth_set_ctrl(m, SocketControl);
        BIO_meth_set_create(m, SocketCreate);
        return m;
    }();
    return method;
}

}  // namespace

BIO* NewSocketBio(int fd) {
    BIO* bio = BIO_new(SocketMethod());
    if (bio)
        BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    return bio;
}

}  // namespace qs
