#include "support/test_certificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "nntp/tls_channel.h"

namespace qs::test {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr NewKey() {
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key)
        throw std::runtime_error("cannot make a test key");
    return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (!extension)
        throw std::runtime_error("cannot add a certificate extension " + value);
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for `name` with `key`, signed by issuer_key (itself when issuer is null).
CertPtr MakeCertificate(const std::string& name, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
                        bool ca, long serial) {
    CertPtr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : subject);
    X509* signer = issuer ? issuer : cert.get();
    if (ca) {
        AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        AddExtension(cert.get(), signer, NID_basic_constraints, "CA:FALSE");
        AddExtension(cert.get(), signer, NID_subject_alt_name,
                     (IsIpAddress(name) ? "IP:" : "DNS:") + name);
    }
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (X509_sign(cert.get(), issuer_key, EVP_sha256()) == 0)
        throw std::runtime_error("cannot sign a test certificate");
    return cert;
}

CertificateFiles Write(const std::string& directory, const std::string& stem, X509* cert,
                       EVP_PKEY* key) {
    CertificateFiles files{directory + "/" + stem + ".crt", directory + "/" + stem + ".key"};
    FILE* out = std::fopen(files.certificate.c_str(), "w");
    bool ok = out && PEM_write_X509(out, cert) == 1;
    if (out)
        std::fclose(out);
    out = std::fopen(files.key.c_str(), "w");
    ok = ok && out && PEM_write_PrivateKey(out, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (out)
        std::fclose(out);
    if (!ok)
        throw std::runtime_error("cannot write " + files.certificate);
    return files;
}

}  // namespace

TestCertificates::TestCertificates(std::string directory) : directory_(std::move(directory)) {
    KeyPtr key = NewKey();
    CertPtr cert = MakeCertificate("Quillstream Test CA", key.get(), nullptr, key.get(), true, 1);
    ca_ = Write(directory_, "test-ca", cert.get(), key.get());
}

CertificateFiles TestCertificates::IssuedFor(const std::string& name,
                                             const std::string& file_stem) {
    FILE* in = std::fopen(ca_.certificate.c_str(), "r");
    CertPtr ca(in ? PEM_read_X509(in, nullptr, nullptr, nullptr) : nullptr, X509_free);
    if (in)
        std::fclose(in);
    in = std::fopen(ca_.key.c_str(), "r");
    KeyPtr ca_key(in ? PEM_read_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr, EVP_PKEY_free);
    if (in)
        std::fclose(in);
    if (!ca || !ca_key)
        throw std::runtime_error("cannot read the test CA");
    KeyPtr key = NewKey();
    static long serial = 100;
    CertPtr cert = MakeCertificate(name, key.get(), ca.get(), ca_key.get(), false, ++serial);
    return Write(directory_, file_stem, cert.get(), key.get());
}

CertificateFiles TestCertificates::SelfSigned(const std::string& name,
                                              const std::string& file_stem) {
    KeyPtr key = NewKey();
    CertPtr cert = MakeCertificate(name, key.get(), nullptr, key.get(), false, 2);
    return Write(directory_, file_stem, cert.get(), key.get());
}

}  // namespace qs::test
