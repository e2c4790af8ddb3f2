// Compressed connections (COMPRESS DEFLATE) end to end through the engine.

#include <gtest/gtest.h>

#include <algorithm>

#include "engine_fixture.h"
#include "support/test_certificates.h"

namespace qs {
namespace {

bool Heard(const test::NewsServer& server, const std::string& command) {
    std::vector<std::string> commands = server.commands();
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

// A scan over a compressed connection carries a fraction of the bytes of a plain one, and a
// grab over TLS with compression inside it gets every file whole. A server that does not
// offer compression, or an entry that does not want it, is used as it is.
TEST_F(EngineTest, CompressedScansAndDownloadsArriveWhole) {
    auto corpus = std::make_shared<test::GeneratedCorpus>(test::CorpusOptions{9, 1, 0});
    test::TempDir certificate_dir;
    test::TestCertificates certificates(certificate_dir.path());
    test::ServerOptions options;
    options.compress = true;
    test::CertificateFiles files = certificates.SelfSigned("127.0.0.1", "server");
    options.tls_certificate = files.certificate;
    options.tls_key = files.key;
    test::NewsServer compressing(options);
    compressing.SetCorpus(corpus);
    test::NewsServer plain;
    plain.SetCorpus(corpus);

    Configure(plain, {"alt.binaries.test"});
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.test");
    const int64_t plain_bytes = plain.wire_bytes_sent();
    const size_t rows = Rows(*engine, "alt.binaries.test").size();
    ASSERT_GT(rows, 0u);
    EXPECT_TRUE(Heard(plain, "CAPABILITIES"));
    EXPECT_FALSE(Heard(plain, "COMPRESS DEFLATE"));
    engine.reset();

    Configure(compressing, {"alt.binaries.test"}, [](Settings& s) {
        s.servers[0].ssl = 1;
        s.servers[0].verify = 0;
    });
    engine = OpenEngine();
    ASSERT_TRUE(engine->ResetGroup("alt.binaries.test").ok);
    ScanToEnd(*engine, "alt.binaries.test");
    EXPECT_TRUE(Heard(compressing, "COMPRESS DEFLATE"));
    const int64_t compressed_bytes = compressing.wire_bytes_sent();
    EXPECT_LT(compressed_bytes * 3, plain_bytes) << compressed_bytes << " of " << plain_bytes;
    EXPECT_EQ(Rows(*engine, "alt.binaries.test").size(), rows);

    ASSERT_GT(engine->Grab("alt.binaries.test", "", false).count, 0);
    engine->WaitForWorkers();
    ExpectBinariesDownloaded(*corpus);
    engine.reset();

    compressing.ClearCommands();
    Configure(compressing, {"alt.binaries.test"}, [](Settings& s) {
        s.servers[0].ssl = 1;
        s.servers[0].verify = 0;
        s.servers[0].compress = 0;
    });
    engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.test");
    EXPECT_FALSE(Heard(compressing, "CAPABILITIES"));
    EXPECT_FALSE(Heard(compressing, "COMPRESS DEFLATE"));
}

}  // namespace
}  // namespace qs
