// Connections over TLS, end to end through the engine: downloads, certificate checks at
// each verification level, and a stop while a worker waits in a TLS read.

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "engine_fixture.h"
#include "support/test_certificates.h"

namespace qs {
namespace {

using namespace std::chrono_literals;

class TlsTest : public EngineTest {
  protected:
    void SetUp() override {
        // The client trusts the test CA in place of the system's store; set before any
        // thread of the test starts.
        ::setenv("SSL_CERT_FILE", certificates_.ca_file().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("SSL_CERT_FILE"); }

    test::ServerOptions ServedWith(const test::CertificateFiles& files) {
        test::ServerOptions options;
        options.tls_certificate = files.certificate;
        options.tls_key = files.key;
        return options;
    }
    // Settings whose one server is `server` over TLS with this verification.
    void ConfigureTls(const test::NewsServer& server, const std::vector<std::string>& groups,
                      int verify, const std::function<void(Settings&)>& more = {}) {
        Configure(server, groups, [&](Settings& s) {
            s.servers[0].ssl = 1;
            s.servers[0].verify = verify;
            if (more)
                more(s);
        });
    }
    // The probe's verdict on the server with this verification, and its last status text.
    std::pair<bool, std::string> Probe(Engine& engine, const test::NewsServer& server, int verify) {
        ServerEntry entry{server.host(), "", "", 0, server.port()};
        entry.ssl = 1;
        entry.verify = verify;
        std::string last;
        bool detected =
            engine.ProbeServer(entry, [&](const std::string& text) { last = text; }).detected;
        return {detected, last};
    }

    test::TempDir certificate_dir_;
    test::TestCertificates certificates_{certificate_dir_.path()};
};

TEST_F(TlsTest, ScanAndGrabOverTlsArriveWhole) {
    auto corpus = std::make_shared<test::GeneratedCorpus>(test::CorpusOptions{5, 1, 0});
    test::NewsServer server(ServedWith(certificates_.IssuedFor("127.0.0.1", "server")));
    server.SetCorpus(corpus);
    ConfigureTls(server, {"alt.binaries.test"}, 2);
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.test");
    ASSERT_EQ(events_.scans().size(), 1u);
    EXPECT_TRUE(events_.scans()[0].servers[0].complete);
    ASSERT_GT(engine->Grab("alt.binaries.test", "", false).count, 0);
    engine->WaitForWorkers();
    ExpectBinariesDownloaded(*corpus);
}

// Strict verification refuses a self-signed certificate and one for another name, with the
// reason in the status; verification 0 takes the first and 1 the second. A TLS client at a
// plain server fails too.
TEST_F(TlsTest, CertificatesAreCheckedAsTheServerSays) {
    test::NewsServer self_signed(ServedWith(certificates_.SelfSigned("127.0.0.1", "self")));
    test::NewsServer other_name(ServedWith(certificates_.IssuedFor("other.example", "other")));
    test::NewsServer plain;
    Configure(plain, {});
    auto engine = OpenEngine();

    auto [detected, status] = Probe(*engine, self_signed, 2);
    EXPECT_FALSE(detected);
    EXPECT_EQ(status,
              "Please wait. Trying: 127.0.0.1. Failed. TLS: certificate verify failed "
              "(self-signed certificate)");
    EXPECT_FALSE(Probe(*engine, self_signed, 1).first);
    EXPECT_TRUE(Probe(*engine, self_signed, 0).first);

    std::tie(detected, status) = Probe(*engine, other_name, 2);
    EXPECT_FALSE(detected);
    EXPECT_EQ(status,
              "Please wait. Trying: 127.0.0.1. Failed. TLS: certificate verify failed "
              "(IP address mismatch)");
    EXPECT_TRUE(Probe(*engine, other_name, 1).first);

    std::tie(detected, status) = Probe(*engine, plain, 0);
    EXPECT_FALSE(detected);
    EXPECT_NE(status.find("Failed. TLS: "), std::string::npos) << status;
}

// A refused certificate is an ordinary failed attempt: fail-over moves on to the next
// server, which serves the article and the file.
TEST_F(TlsTest, ARefusedCertificateFailsOverToTheNextServer) {
    test::NewsServer refused(ServedWith(certificates_.SelfSigned("127.0.0.1", "self")));
    test::NewsServer good(ServedWith(certificates_.IssuedFor("127.0.0.1", "good")));
    refused.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    good.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    Configure(refused, {"alt.binaries.one"}, [&](Settings& s) {
        s.servers[0].ssl = 1;
        ServerEntry second{good.host(), "", "", 0, good.port()};
        second.ssl = 1;
        s.servers.push_back(second);
    });
    auto engine = OpenEngine();
    ArticleRead read = engine->ReadArticle("", "<1.alt.binaries.one@memory.test>", {});
    EXPECT_TRUE(read.ok);
    EXPECT_NE(read.text.find("=ybegin"), std::string::npos);

    ScanToEnd(*engine, "alt.binaries.one");
    ASSERT_TRUE(engine->Grab("alt.binaries.one", "", false).ok);
    engine->WaitForWorkers();
    EXPECT_EQ(test::ReadFile(home_.File("alt.binaries.one/one.bin")), "abc");
}

TEST_F(TlsTest, StopWakesAWorkerWaitingInATlsRead) {
    test::NewsServer server(ServedWith(certificates_.IssuedFor("127.0.0.1", "server")));
    server.memory_corpus()->Add("alt.binaries.one", SmallYencPost("one.bin"));
    ConfigureTls(server, {"alt.binaries.one"}, 2, [](Settings& s) {
        s.SocketTimeout = 600;  // only a stop can end the wait
    });
    auto engine = OpenEngine();
    ScanToEnd(*engine, "alt.binaries.one");
    server.SetReply("BODY", test::Reply::Silence());
    ASSERT_TRUE(engine->Grab("alt.binaries.one", "", false).ok);
    for (int i = 0; i < 500 && BodyCommands(server) < 1; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(BodyCommands(server), 1);
    engine->StopAll();
    EXPECT_TRUE(engine->WaitIdle(10s));
    ASSERT_EQ(events_.filed().size(), 1u);
    EXPECT_EQ(events_.filed()[0].outcome, EntryOutcome::Stopped);
}

}  // namespace
}  // namespace qs
