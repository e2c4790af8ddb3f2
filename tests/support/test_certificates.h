#pragma once

#include <string>

namespace qs::test {

// A certificate and its key as PEM files.
struct CertificateFiles {
    std::string certificate;
    std::string key;
};

// Throw-away certificates made at test time in a directory: a test CA, server certificates
// it issued, and self-signed ones nobody trusts. Point SSL_CERT_FILE at ca_file() to make
// the client trust the CA instead of the system's store.
class TestCertificates {
  public:
    explicit TestCertificates(std::string directory);

    const std::string& ca_file() const { return ca_.certificate; }
    // Issued by the test CA for `name` (a DNS name or an IP address, put in subjectAltName).
    CertificateFiles IssuedFor(const std::string& name, const std::string& file_stem);
    // Signed by its own key, for `name`.
    CertificateFiles SelfSigned(const std::string& name, const std::string& file_stem);

  private:
    std::string directory_;
    CertificateFiles ca_;
};

}  // namespace qs::test
