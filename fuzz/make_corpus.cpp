// Writes the seed corpora of the fuzz targets from the project's own encoders and test
// support: `fuzz_make_corpus DIR` fills DIR/<target>/ (fuzz/corpus in the source tree).
// Seeds stay small: a few KB per target.

#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/ini_file.h"
#include "app/settings.h"
#include "db/part_runs.h"
#include "nntp/deflate_stream.h"
#include "postprocess/set_fixtures.h"
#include "support/generated_corpus.h"
#include "support/yenc_poster.h"

namespace {

using namespace qs;
using namespace qs::test;
namespace fs = std::filesystem;

std::string out_dir;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path dir = fs::path(out_dir) / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

// Body lines of the wire text (LF cut, CR kept), joined again with LF.
std::vector<std::string> WireLines(const std::string& wire) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < wire.size()) {
        size_t lf = wire.find('\n', start);
        if (lf == std::string::npos)
            lf = wire.size();
        lines.push_back(wire.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

std::string Join(const std::vector<std::string>& lines, size_t head, size_t tail) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i < head || i + tail >= lines.size())
            out += lines[i] + "\n";
    }
    return out;
}

std::string Compressed(const std::string& text) {
    auto stream = DeflateStream::Create();
    std::string out;
    stream->Compress(text.data(), text.size(), true, out);
    return out;
}

std::string LengthPrefixed(const std::string& first, const std::string& rest) {
    std::string out;
    out += static_cast<char>(first.size() & 0xff);
    out += static_cast<char>(first.size() >> 8);
    return out + first + rest;
}

struct Sources {
    GeneratedCorpus corpus{CorpusOptions{1, 1, 0, 1}};
    size_t test_group = *corpus.FindGroup("alt.binaries.test");

    std::string Overview(size_t group, int count) const {
        std::string out;
        const GroupInfo info = corpus.Groups()[group];
        for (int64_t n = info.first; n <= info.last && count > 0; ++n, --count) {
            ArticleKey key;
            if (corpus.Find(group, n, key)) {
                corpus.AppendOverview(key, out);
                out += "\r\n";
            }
        }
        return out;
    }
    const CorpusFile* FileOf(CorpusEncoding encoding) const {
        for (const CorpusFile& f : corpus.files())
            if (f.encoding == encoding && f.group == "alt.binaries.test")
                return &f;
        return nullptr;
    }
    std::string Body(const CorpusFile& file, int part) const {
        ArticleKey key;
        corpus.Find(*corpus.FindGroup(file.group), file.first_number + part - 1, key);
        std::string body;
        corpus.AppendBody(key, body);
        return body;
    }
};

void OverviewSeeds(const Sources& s) {
    const std::string lines = s.Overview(s.test_group, 14);
    Seed("overview_scan", "filter_off", std::string(1, '\0') + "\n" + lines);
    Seed("overview_scan", "words_include", "\x01jpg, rar ,nfo,,\n" + lines);
    Seed("overview_scan", "regex_exclude", "\x07\\.(rar|par2)|^re:\n" + lines);
    Seed("overview_scan", "text_group",
         std::string(1, '\0') + "\n" + s.Overview(*s.corpus.FindGroup("alt.test.text"), 6));
}

void ReplySeeds(const Sources& s) {
    const std::string over = "224 overview follows\r\n" + s.Overview(s.test_group, 8) + ".\r\n";
    Seed("nntp_reply", "greeting_group_xover",
         "\x08"
         "200 news.example.com ready\r\n211 12 1 12 alt.binaries.test\r\n" +
             over);
    Seed("nntp_reply", "short_limit", "\x05" + over);
    const CorpusFile* yenc = s.FileOf(CorpusEncoding::YEnc);
    std::string body = "222 0 <a@b> body\r\n" + s.Body(*yenc, 1).substr(0, 2500) + "\r\n.\r\n";
    Seed("nntp_reply", "body", "\x0b" + body);
}

void CompressSeeds(const Sources& s) {
    const std::string caps =
        "101 Capability list:\r\nVERSION 2\r\nREADER\r\nOVER\r\nCOMPRESS DEFLATE\r\n.\r\n";
    const std::string over = "224 overview follows\r\n" + s.Overview(s.test_group, 10) + ".\r\n";
    Seed("compress_capabilities", "deflate_offered", LengthPrefixed(caps, Compressed(over)));
    Seed("compress_capabilities", "two_flushes",
         LengthPrefixed("101 caps\r\ncompress gzip\tdeflate\r\n.\r\n",
                        Compressed(over.substr(0, 700)) + Compressed(over.substr(700))));
    Seed("compress_capabilities", "not_offered",
         LengthPrefixed("101 Capability list:\r\nVERSION 2\r\nCOMPRESS\r\n.\r\n", ""));
    Seed("compress_capabilities", "unterminated",
         LengthPrefixed("101 Capability list:\r\nCOMPRESS DEFLATE\r\n", ""));
}

void DecoderSeeds(const Sources& s) {
    MemoryCorpus posted;
    const std::string data(RandomBytes(700, 7));
    for (const auto& [name, part_size] :
         std::vector<std::pair<std::string, size_t>>{{"photo.jpg", 300}, {"evil.bin", 700}}) {
        std::string seed = std::string(1, '\x02') + "\"" + name + "\" yEnc (1/3)\n";
        const auto ids = PostYencFile(posted, "alt.binaries.test", name, data, part_size);
        for (size_t i = 0; i < ids.size(); ++i) {
            ArticleKey key;
            posted.FindId(ids[i], key);
            std::string body;
            posted.AppendBody(key, body);
            seed += Join(WireLines(body), 1000, 0);
            if (i + 1 < ids.size())
                seed += "\x1e\n";
        }
        Seed("decoders", "yenc_" + name, seed);
    }
    for (CorpusEncoding encoding : {CorpusEncoding::UU, CorpusEncoding::Base64}) {
        const CorpusFile* file = s.FileOf(encoding);
        const auto first = WireLines(s.Body(*file, 1));
        const auto last = WireLines(s.Body(*file, file->parts));
        std::string seed = std::string(1, '\x00') + file->subject + "\n" + Join(first, 14, 0);
        if (file->parts > 1)
            seed += "\x1e\n" + Join(last, 0, 6);
        Seed("decoders", encoding == CorpusEncoding::UU ? "uu" : "base64", seed);
    }
}

void NzbSeeds(const Sources& s) {
    std::string nzb = s.corpus.Nzb();
    size_t cut = nzb.find("</file>");
    cut = nzb.find("</file>", cut + 1);
    if (cut != std::string::npos)
        nzb = nzb.substr(0, cut + 7) + "\n</nzb>\n";
    // Each file's segments beyond its second go: a few KB in all.
    std::string small;
    int segments = 0;
    for (const std::string& line : WireLines(nzb)) {
        if (line.find("<file ") != std::string::npos)
            segments = 0;
        if (line.find("<segment ") != std::string::npos && ++segments > 2)
            continue;
        small += line + "\n";
    }
    Seed("nzb_import", "generated", small);
    Seed("nzb_import", "hostile",
         "<?xml version=\"1.0\"?>\n<nzb>\n"
         "<file poster=\"p\" date=\"-5\" subject=\"s [2]\"><groups><group>../../etc</group>"
         "</groups><segments><segment bytes=\"9223372036854775807\" number=\"1\">a@b</segment>"
         "</segments></file>\n"
         "<file subject=\"s\"><groups><group> alt.x </group></groups><segments>"
         "<segment number=\"2147483648\">&lt;c@d&gt;</segment><segment number=\"1\">c@d"
         "</segment></segments></file>\n</nzb>\n");
}

void SettingsSeeds() {
    Seed("settings_file", "defaults", SettingsToIni(Settings{}).Serialize());
    Settings settings;
    ServerEntry server;
    server.host = "news.example.com";
    server.user = "me";
    server.password = "se=cr\net \x01\xff";
    server.ssl = 1;
    server.port = 563;
    settings.servers.push_back(server);
    server.host = "backup.example.net";
    server.compress = 0;
    settings.disabled_servers.push_back(server);
    settings.groups.push_back({"alt.binaries.test", "/tmp/dl/alt.binaries.test/", 1702353543});
    settings.FilterUse = 1;
    settings.FilterWords = "jpg, rar";
    settings.BaseDir = "/tmp/dl";
    settings.Placement = std::vector<uint8_t>(kPlacementSize, 7);
    Seed("settings_file", "servers_groups", SettingsToIni(settings).Serialize());
}

void GroupListSeeds(const Sources& s) {
    std::string list = "215 list of newsgroups follows\r\n";
    for (const GroupInfo& g : s.corpus.Groups())
        list += g.name + " " + std::to_string(g.last) + " " + std::to_string(g.first) + " y\r\n";
    list += "alt.neg -5 -9 n\r\nbad\r\n.\r\n";
    Seed("group_list", "generated", list);
}

void FollowUpSeeds(const Sources& s) {
    const size_t group = *s.corpus.FindGroup("alt.test.text");
    const GroupInfo info = s.corpus.Groups()[group];
    int written = 0;
    for (int64_t n = info.first; n <= info.last && written < 3; ++n) {
        ArticleKey key;
        if (!s.corpus.Find(group, n, key))
            continue;
        std::string text;
        s.corpus.AppendHead(key, text);
        text += "\r\n";
        s.corpus.AppendBody(key, text);
        Seed("follow_up", "article_" + std::to_string(++written), text.substr(0, 1500));
    }
    Seed("follow_up", "dots_and_bare_lf",
         "Subject: re: x\nReferences: <a@b>\nMessage-ID: <c@d>\n\n.\n..hi\nlast");
}

// par2's output with most of its progress lines left out.
std::string Transcript(const std::string& output) {
    std::string kept;
    int progress = 0;
    for (const std::string& line : WireLines(output)) {
        if (line.find('%') == std::string::npos || ++progress <= 3)
            kept += line + "\n";
    }
    return kept.substr(0, 3000);
}

void Par2Seeds() {
    char pattern[] = "/tmp/qs-fuzz-par2.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        return;
    const std::string dir = pattern;
    std::ofstream(dir + "/a.bin", std::ios::binary) << RandomBytes(20000, 3);
    std::ofstream(dir + "/b.bin", std::ios::binary) << RandomBytes(9000, 4);
    std::string output;
    if (RunTool(dir, {"par2", "create", "-q", "-s4096", "-r30", "set.par2", "a.bin", "b.bin"},
                &output)) {
        RunTool(dir, {"par2", "verify", "set.par2"}, &output);
        Seed("par2_output", "verify_ok", Transcript(output));
        PunchZeros(dir + "/a.bin", 100, 9000);
        RunTool(dir, {"par2", "repair", "set.par2"}, &output);
        Seed("par2_output", "repair", Transcript(output));
        PunchZeros(dir + "/a.bin", 0, 20000);
        PunchZeros(dir + "/b.bin", 0, 9000);
        RunTool(dir, {"par2", "verify", "set.par2"}, &output);
        Seed("par2_output", "not_possible", Transcript(output));
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void ArchiveSeeds() {
    Seed("archive_names", "zip_plain",
         StoredZip({{"a.txt", "hello", false},
                    {"sub/b.txt", "world", false},
                    {"sub/link", "../a.txt", true}}));
    Seed("archive_names", "zip_hostile",
         StoredZip({{"../up.txt", "x", false},
                    {"out", "../../etc/passwd", true},
                    {"/abs.txt", "y", false},
                    {"ok/../../z", "z", false}}));
    for (const auto& [name, text] : std::vector<std::pair<std::string, std::string>>{
             {"names_rar", "movie.part01.rar\n../x"},
             {"names_par2", "set.vol03+04.par2\nsub/../../y"},
             {"names_7z", "a/b/c.7z.001\n../../c"},
             {"names_zip", "x.z01\n./."}})
        Seed("archive_names", name, std::string(1, '\0') + text);
}

// Runs in both forms: a few parts of one post, and parts with every number at its extremes.
void PartRunSeeds() {
    std::vector<std::string> ids;
    for (int p = 1; p <= 3; ++p)
        ids.push_back("<part" + std::to_string(p) + "of3.Xy9@news.example>");
    std::vector<part_runs::PackedPart> post, extremes;
    for (int p = 1; p <= 3; ++p)
        post.push_back({ids[static_cast<size_t>(p - 1)], 1000 + p, 3000, 384200, p});
    extremes.push_back({"<x@y>", INT64_MIN, INT64_MAX, -1, INT32_MIN});
    extremes.push_back({"<x@z>", INT64_MAX, INT64_MIN, 0, INT32_MAX});
    for (const auto& [name, parts] : {std::pair{"three_parts", post}, {"extremes", extremes}}) {
        std::string plain, stored;
        for (size_t i = 0; i < parts.size(); ++i) {
            part_runs::Append(plain, parts[i]);
            part_runs::AppendStored(stored, parts[i], i > 0 ? &parts[i - 1] : nullptr);
        }
        Seed("part_runs", name, plain);
        Seed("part_runs", std::string(name) + "_stored", stored);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    out_dir = argv[1];
    const Sources sources;
    OverviewSeeds(sources);
    ReplySeeds(sources);
    CompressSeeds(sources);
    DecoderSeeds(sources);
    NzbSeeds(sources);
    SettingsSeeds();
    GroupListSeeds(sources);
    FollowUpSeeds(sources);
    Par2Seeds();
    ArchiveSeeds();
    PartRunSeeds();
    return 0;
}
