// Decoding speed of the three decoders over bodies held in memory; output to /dev/null
// so the figures are decoding (and, for yEnc, CRC-32 checking) alone.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "download/crc32.h"
#include "download/mime_decoder.h"
#include "download/uu_decoder.h"
#include "download/yenc_body.h"
#include "download/yenc_body_crc.h"
#include "download/yenc_decoder.h"

namespace {

using qs::LineList;

constexpr size_t kTotal = 100 * 1000 * 1000;
constexpr size_t kPartSize = 768000;
// Parts whose lines (about 4 MB) stay in the cache between rounds.
constexpr size_t kCachedParts = 4;

std::string RandomBytes(size_t size) {
    std::mt19937_64 rng(1);
    std::string out(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
        uint64_t v = rng();
        std::memcpy(&out[i], &v, 8);
    }
    return out;
}

qs::OutputNamer DevNull() {
    return [](std::string_view, std::string_view, std::string_view) {
        return std::string("/dev/null");
    };
}

// 100 MB as yEnc parts of 768,000 bytes with 128-column lines.
const std::vector<LineList>& YencParts() {
    static std::vector<LineList> parts = [] {
        std::string data = RandomBytes(kTotal);
        std::vector<LineList> out;
        size_t count = (kTotal + kPartSize - 1) / kPartSize;
        for (size_t p = 0; p < count; ++p) {
            size_t begin = p * kPartSize, end = std::min(kTotal, begin + kPartSize);
            LineList lines;
            char buf[200];
            std::snprintf(buf, sizeof buf,
                          "=ybegin part=%zu total=%zu line=128 size=%zu name=bench.bin\r", p + 1,
                          count, kTotal);
            lines.push_back(buf);
            std::snprintf(buf, sizeof buf, "=ypart begin=%zu end=%zu\r", begin + 1, end);
            lines.push_back(buf);
            std::string line;
            for (size_t i = begin; i < end; ++i) {
                unsigned char c = static_cast<unsigned char>(data[i] + 42);
                if (c == 0 || c == '\n' || c == '\r' || c == '=' ||
                    ((c == ' ' || c == '\t' || c == '.') && line.empty())) {
                    line += '=';
                    c = static_cast<unsigned char>(c + 64);
                }
                line += static_cast<char>(c);
                if (line.size() >= 128 || i + 1 == end) {
                    lines.push_back(line + "\r");
                    line.clear();
                }
            }
            uint32_t crc = qs::Crc32(0, data.data() + begin, end - begin);
            std::snprintf(buf, sizeof buf, "=yend size=%zu part=%zu pcrc32=%08x\r", end - begin,
                          p + 1, crc);
            lines.push_back(buf);
            out.push_back(std::move(lines));
        }
        return out;
    }();
    return parts;
}

// 100 MB uuencoded: 61-character lines of 45 bytes.
const LineList& UuLines() {
    static LineList lines = [] {
        std::string data = RandomBytes(kTotal);
        LineList out = {"begin 644 bench.bin\r"};
        auto enc = [](unsigned v) { return static_cast<char>(v ? v + 32 : '`'); };
        for (size_t i = 0; i < kTotal; i += 45) {
            size_t n = std::min<size_t>(45, kTotal - i);
            std::string line(1, enc(static_cast<unsigned>(n)));
            for (size_t k = 0; k < n; k += 3) {
                unsigned char a = data[i + k], b = k + 1 < n ? data[i + k + 1] : 0,
                              c = k + 2 < n ? data[i + k + 2] : 0;
                line += enc(a >> 2);
                line += enc(((a << 4) | (b >> 4)) & 63);
                line += enc(((b << 2) | (c >> 6)) & 63);
                line += enc(c & 63);
            }
            out.push_back(line + "\r");
        }
        out.push_back("`\r");
        out.push_back("end\r");
        return out;
    }();
    return lines;
}

// 100 MB in base64: 76-character lines.
const LineList& Base64Lines() {
    static LineList lines = [] {
        std::string data = RandomBytes(kTotal);
        const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        LineList out = {"Content-Type: application/octet-stream; name=\"bench.bin\"\r",
                        "Content-Transfer-Encoding: base64\r", "\r"};
        std::string line;
        for (size_t i = 0; i < kTotal; i += 3) {
            size_t n = std::min<size_t>(3, kTotal - i);
            uint32_t v = static_cast<unsigned char>(data[i]) << 16;
            if (n > 1)
                v |= static_cast<unsigned char>(data[i + 1]) << 8;
            if (n > 2)
                v |= static_cast<unsigned char>(data[i + 2]);
            line += abc[v >> 18];
            line += abc[(v >> 12) & 63];
            line += n > 1 ? abc[(v >> 6) & 63] : '=';
            line += n > 2 ? abc[v & 63] : '=';
            if (line.size() >= 76) {
                out.push_back(line + "\r");
                line.clear();
            }
        }
        if (!line.empty())
            out.push_back(line + "\r");
        return out;
    }();
    return lines;
}

void BM_YencDecode(benchmark::State& state) {
    static const std::vector<qs::PartBody> parts(YencParts().begin(), YencParts().end());
    for (auto _ : state) {
        qs::YencDecoder dec("bench", DevNull());
        int bad = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            auto outcome = i == 0 ? dec.Start("", parts[0]) : dec.Continue(parts[i]);
            bad += outcome == qs::DecodeOutcome::HeldBack;
        }
        dec.Finish();
        if (bad != 0 || dec.total_bytes() != kTotal)
            state.SkipWithError("yEnc decoding went wrong");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_YencDecode)->Unit(benchmark::kMillisecond);

// The data lines of each part as one body, as they come off the wire (CR LF line ends).
const std::vector<std::string>& YencBodies() {
    static std::vector<std::string> bodies = [] {
        std::vector<std::string> out;
        for (const auto& lines : YencParts()) {
            std::string body;
            for (size_t i = 2; i + 1 < lines.size(); ++i)
                body += lines[i] + "\n";
            out.push_back(std::move(body));
        }
        return out;
    }();
    return bodies;
}

// Each part's data lines decoded by one decoder of whole bodies and the CRC-32 taken slice by
// slice, as YencDecoder does but without its line checks and file writes: the speed of the
// decoder and the CRC on one core. Over all 100 MB the bodies come from memory each time;
// over kCachedParts parts they come from the cache, as a part just read from the server does.
void BM_YencBodyDecodeCrc(benchmark::State& state, qs::YencBodyDecoder decode, size_t part_count) {
    const auto& all = YencBodies();
    const std::span<const std::string> bodies(all.data(), std::min(part_count, all.size()));
    const size_t expected = std::min(kTotal, bodies.size() * kPartSize);
    std::vector<uint8_t> part(kPartSize * 2);
    for (auto _ : state) {
        size_t total = 0;
        uint32_t crcs = 0;
        for (const auto& body : bodies) {
            uint32_t crc = 0;
            total += qs::DecodeYencBody(decode, body, part.data(), crc);
            crcs ^= crc;
        }
        benchmark::DoNotOptimize(crcs);
        if (total != expected)
            state.SkipWithError("yEnc decoding went wrong");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * expected));
}

// The same decoding without the CRC: how the time splits between the two.
void BM_YencBodyDecodeOnly(benchmark::State& state, qs::YencBodyDecoder decode) {
    const auto& bodies = YencBodies();
    std::vector<uint8_t> part(kPartSize * 2);
    for (auto _ : state) {
        size_t total = 0;
        for (const auto& body : bodies) {
            size_t i = 0, o = 0;
            bool escape = false;
            decode(body, i, body.size(), part.data(), o, escape);
            total += o;
        }
        benchmark::DoNotOptimize(part.data());
        if (total != kTotal)
            state.SkipWithError("yEnc decoding went wrong");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}

// The CRC-32 of one part, by the library and by the folding the body decoder uses.
void BM_Crc32(benchmark::State& state, uint32_t (*crc32)(uint32_t, const void*, size_t)) {
    std::string data = RandomBytes(kPartSize);
    for (auto _ : state)
        benchmark::DoNotOptimize(crc32(0, data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK_CAPTURE(BM_Crc32, library, qs::Crc32);
BENCHMARK_CAPTURE(BM_Crc32, wide, qs::Crc32Wide);

void BM_UuDecode(benchmark::State& state) {
    static const qs::PartBody lines = UuLines();
    for (auto _ : state) {
        qs::UuDecoder dec("bench", DevNull());
        if (dec.Start("", lines) != qs::DecodeOutcome::Decoded)
            state.SkipWithError("no begin line");
        dec.Finish();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_UuDecode)->Unit(benchmark::kMillisecond);

void BM_Base64Decode(benchmark::State& state) {
    static const qs::PartBody lines = Base64Lines();
    for (auto _ : state) {
        qs::Base64Decoder dec("bench", DevNull());
        if (dec.Start("", lines) != qs::DecodeOutcome::Decoded)
            state.SkipWithError("no MIME header");
        dec.Finish();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kTotal));
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    for (const auto& choice : qs::AvailableYencBodyDecoders()) {
        benchmark::RegisterBenchmark(("BM_YencBodyDecodeCrc/" + std::string(choice.name)).c_str(),
                                     BM_YencBodyDecodeCrc, choice.decode, SIZE_MAX)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("BM_YencBodyDecodeCrcCached/" + std::string(choice.name)).c_str(),
            BM_YencBodyDecodeCrc, choice.decode, kCachedParts);
        benchmark::RegisterBenchmark(("BM_YencBodyDecodeOnly/" + std::string(choice.name)).c_str(),
                                     BM_YencBodyDecodeOnly, choice.decode)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
