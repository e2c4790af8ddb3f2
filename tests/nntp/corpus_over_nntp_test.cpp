#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "nntp/nntp_socket.h"
#include "nntp/session.h"
#include "support/generated_corpus.h"
#include "support/news_server.h"

namespace qs {
namespace {

using test::CorpusEncoding;
using test::GeneratedCorpus;
using test::NewsServer;

// Reads a multi-line body (after its status line) up to the "." line, undoing dot-stuffing.
std::vector<std::string> ReadBody(NntpSocket& socket) {
    std::vector<std::string> lines;
    std::string line;
    while (socket.ReadLine(line, kReplyBufferSize, LineMode::Whole)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == ".")
            return lines;
        if (line.size() > 1 && line[0] == '.')
            line.erase(0, 1);
        lines.push_back(line);
    }
    ADD_FAILURE() << "body not ended";
    return lines;
}

std::string YDecode(const std::vector<std::string>& lines, std::string& trailer) {
    std::string out;
    for (const std::string& l : lines) {
        if (l.rfind("=ybegin", 0) == 0 || l.rfind("=ypart", 0) == 0)
            continue;
        if (l.rfind("=yend", 0) == 0) {
            trailer = l;
            continue;
        }
        for (size_t i = 0; i < l.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(l[i]);
            if (c == '=' && i + 1 < l.size())
                c = static_cast<unsigned char>(l[++i] - 64);
            out += static_cast<char>(c - 42);
        }
    }
    return out;
}

TEST(GeneratedCorpus, IsTheSameForTheSameSeedAndServesDecodableParts) {
    auto corpus = std::make_shared<GeneratedCorpus>(test::CorpusOptions{7, 1, 0});
    GeneratedCorpus again(test::CorpusOptions{7, 1, 0});
    EXPECT_EQ(corpus->Nzb(), again.Nzb());
    EXPECT_NE(corpus->Nzb(), GeneratedCorpus(test::CorpusOptions{8, 1, 0}).Nzb());

    NewsServer server;
    server.SetCorpus(corpus);
    NntpSocket socket;
    socket.Open(server.host(), server.port());
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line));
    ASSERT_TRUE(SelectGroup(socket, "alt.binaries.test"));

    int checked_yenc = 0, checked_base64 = 0;
    for (size_t f = 0; f < corpus->files().size(); ++f) {
        const test::CorpusFile& file = corpus->files()[f];
        if (file.group != "alt.binaries.test")
            continue;
        std::string decoded;
        for (int p = 1; p <= file.parts; ++p) {
            socket.SendCommand("BODY " + corpus->PartMessageId(f, p));
            ASSERT_TRUE(socket.ReadLine(line));
            ASSERT_EQ(ReplyCode(line), 222) << line;
            std::vector<std::string> body = ReadBody(socket);
            if (file.encoding == CorpusEncoding::YEnc) {
                std::string trailer;
                std::string piece = YDecode(body, trailer);
                char expected[32];
                std::snprintf(
                    expected, sizeof expected, "%08x",
                    static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(piece.data()),
                                                static_cast<uInt>(piece.size()))));
                EXPECT_NE(trailer.find(expected), std::string::npos) << trailer;
                for (const std::string& l : body)
                    EXPECT_LE(l.size(), 129u);
                decoded += piece;
            } else if (file.encoding == CorpusEncoding::Base64 && p == 1) {
                EXPECT_EQ(body[3],
                          "Content-Type: application/octet-stream; name=\"" + file.name + "\"");
            }
            if (file.encoding == CorpusEncoding::UU && p == 1) {
                EXPECT_EQ(body[0], "begin 644 " + file.name);
            }
            if (file.encoding == CorpusEncoding::UU && p == file.parts) {
                EXPECT_EQ(body.back(), "end");
            }
        }
        if (file.encoding == CorpusEncoding::YEnc) {
            EXPECT_EQ(decoded, corpus->FileData(f)) << file.name;
            ++checked_yenc;
        }
        checked_base64 += file.encoding == CorpusEncoding::Base64;
        if (file.encoding != CorpusEncoding::Text) {
            EXPECT_NE(corpus->PartSubject(f, 1).find("1/" + std::to_string(file.parts)),
                      std::string::npos);
        }
    }
    EXPECT_GE(checked_yenc, 3);
    EXPECT_GE(checked_base64, 1);
}

TEST(GeneratedCorpus, MissingPartsAnswer430ButStayInTheNzb) {
    auto corpus = std::make_shared<GeneratedCorpus>(test::CorpusOptions{3, 4, 50});
    NewsServer server;
    server.SetCorpus(corpus);
    NntpSocket socket;
    socket.Open(server.host(), server.port());
    std::string line;
    ASSERT_TRUE(socket.ReadLine(line));
    int missing = 0;
    for (size_t f = 0; f < corpus->files().size(); ++f) {
        for (int p = 1; p <= corpus->files()[f].parts; ++p) {
            if (!corpus->PartMissing(f, p) || corpus->files()[f].encoding == CorpusEncoding::Text)
                continue;
            ++missing;
            std::string id = corpus->PartMessageId(f, p);
            EXPECT_NE(corpus->Nzb().find(id.substr(1, id.size() - 2)), std::string::npos);
            socket.SendCommand("STAT " + id);
            ASSERT_TRUE(socket.ReadLine(line));
            EXPECT_EQ(ReplyCode(line), 430);
        }
    }
    EXPECT_GT(missing, 0);
}

}  // namespace
}  // namespace qs
