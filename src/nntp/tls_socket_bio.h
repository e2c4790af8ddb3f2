#pragma once

#include <openssl/bio.h>

namespace qs {

// A BIO over a connected socket that sends with MSG_NOSIGNAL, so that a peer gone away is a
// failed write and never a SIGPIPE. A receive time-out (SO_RCVTIMEO) or a shutdown from
// another thread is a plain failure, not a retry. The BIO does not close the descriptor.
BIO* NewSocketBio(int fd);

}  // namespace qs
