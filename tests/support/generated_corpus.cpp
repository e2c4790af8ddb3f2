#include "support/generated_corpus.h"

#include <openssl/evp.h>
#include <zlib.h>

#ifdef QS_HAVE_ISAL
#include <isa-l/crc.h>
#endif

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace qs::test {

namespace {

// CRC-32 as zlib computes it (crc starts at 0), with ISA-L where the build has it.
uint32_t Crc32(uint32_t crc, const unsigned char* data, size_t size) {
#ifdef QS_HAVE_ISAL
    return crc32_gzip_refl(crc, data, size);
#else
    return static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(size)));
#endif
}

uint64_t Mix(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// A small seeded generator for the corpus layout.
class Rng {
  public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next() { return Mix(state_++); }
    uint64_t Range(uint64_t low, uint64_t high) { return low + Next() % (high - low + 1); }
    template <typename T>
    const T& Pick(const std::vector<T>& items) {
        return items[Next() % items.size()];
    }

  private:
    uint64_t state_;
};

const std::vector<std::string> kWords = {
    "holiday", "scan",   "archive", "backup", "photo",  "mountain", "river", "sunset",
    "report",  "manual", "sample",  "draft",  "final",  "music",    "notes", "project",
    "garden",  "city",   "winter",  "summer", "family", "old",      "new",   "test"};
const std::vector<std::string> kPosters = {
    "Anna <anna@example.com>", "Bert Poster <bert@example.net>", "uploader@example.org (Up Loader)",
    "Carla <carla@example.invalid>"};

std::string Date(int64_t when) {
    std::time_t t = static_cast<std::time_t>(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", days[tm.tm_wday],
                  tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

constexpr uint64_t kYEncPart = 384000;
constexpr uint64_t kYEncBigPart = 768000;
constexpr int kYEncLine = 128;
constexpr uint64_t kUULine = 45;
constexpr uint64_t kUUPart = kUULine * 600;
constexpr uint64_t kBase64Line = 57;
constexpr uint64_t kBase64Part = kBase64Line * 500;
constexpr const char* kBoundary = "=_quillstream_boundary";
constexpr size_t kYEncPiece = 32768;
constexpr size_t kYEncFlush = 131072;  // a streamed body goes out in pieces of this size

// yEnc encoding (lines of kYEncLine characters; NUL, LF, CR and "=" always escaped, TAB
// and SPACE at either end of a line and "." at its start too), fed in pieces: the output
// column carries over from one piece to the next. Inside a line the bytes go a block at a
// time (16 with SSE2, else 8): the clean ones up to the first that needs an escape are
// copied at once.
class YEncWriter {
  public:
    static size_t MaxOutput(size_t in) { return in * 2 + (in / kYEncLine + 2) * 2 + 2 * kBlock; }

    // Encodes n bytes into out (room for MaxOutput(n)); `last` when they end the part,
    // whose last line is ended then. Returns the bytes written.
    size_t Encode(const unsigned char* in, size_t n, bool last, char* out) {
        char* w = out;
        const size_t bulk_end = last && n > 0 ? n - 1 : n;  // the part's last byte ends a line
        size_t i = 0;
        while (i < n) {
            if (column_ >= 1 && column_ <= kYEncLine - 2 && i + kBlock <= n) {
                // Bytes that land inside the line, where only NUL, LF, CR and "=" escape.
                size_t m = std::min<size_t>(kBlock, static_cast<size_t>(kYEncLine - 1 - column_));
                m = std::min(m, bulk_end > i ? bulk_end - i : 0);
                if (m > 0) {
                    size_t clean = CleanPrefix(in + i, m, w);  // writes kBlock bytes
                    w += clean;
                    column_ += static_cast<int>(clean);
                    i += clean;
                    if (clean < m) {
                        *w++ = '=';
                        *w++ = static_cast<char>(static_cast<unsigned char>(in[i] + 42 + 64));
                        ++i;
                        column_ += 2;
                        if (column_ >= kYEncLine) {
                            *w++ = '\r';
                            *w++ = '\n';
                            column_ = 0;
                        }
                    }
                    continue;
                }
            }
            unsigned char c = static_cast<unsigned char>(in[i] + 42);
            bool escape = c == 0 || c == '\n' || c == '\r' || c == '=' ||
                          ((c == '\t' || c == ' ') && (column_ == 0 || column_ == kYEncLine - 1)) ||
                          (c == '.' && column_ == 0);
            if (escape) {
                *w++ = '=';
                c = static_cast<unsigned char>(c + 64);
                ++column_;
            }
            *w++ = static_cast<char>(c);
            ++i;
            if (++column_ >= kYEncLine || (last && i == n)) {
                *w++ = '\r';
                *w++ = '\n';
                column_ = 0;
            }
        }
        return static_cast<size_t>(w - out);
    }

  private:
#if defined(__SSE2__)
    static constexpr size_t kBlock = 16;

    // Writes kBlock encoded bytes of `in` to w; returns how many of the first m need no
    // escape (m when none does).
    static size_t CleanPrefix(const unsigned char* in, size_t m, char* w) {
        __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        __m128i y = _mm_add_epi8(x, _mm_set1_epi8(42));
        __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(y, _mm_setzero_si128()),
                                                _mm_cmpeq_epi8(y, _mm_set1_epi8('\n'))),
                                   _mm_or_si128(_mm_cmpeq_epi8(y, _mm_set1_epi8('\r')),
                                                _mm_cmpeq_epi8(y, _mm_set1_epi8('='))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(w), y);
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hit)) & ((1u << m) - 1);
        return mask ? static_cast<size_t>(std::countr_zero(mask)) : m;
    }
#else
    static constexpr size_t kBlock = 8;

    static size_t CleanPrefix(const unsigned char* in, size_t m, char* w) {
        uint64_t x;
        std::memcpy(&x, in, 8);
        // Adds 42 to every byte without carries between them.
        uint64_t y =
            ((x & 0x7f7f7f7f7f7f7f7fULL) + 0x2a2a2a2a2a2a2a2aULL) ^ (x & 0x8080808080808080ULL);
        uint64_t flags = HasZero(y) | HasZero(y ^ 0x0a0a0a0a0a0a0a0aULL) |
                         HasZero(y ^ 0x0d0d0d0d0d0d0d0dULL) | HasZero(y ^ 0x3d3d3d3d3d3d3d3dULL);
        if (m < 8)
            flags &= (uint64_t{1} << (8 * m)) - 1;
        std::memcpy(w, &y, 8);
        // The lowest flag is exact (the trick may only add false ones above a true one).
        return flags ? static_cast<size_t>(std::countr_zero(flags)) / 8 : m;
    }

    // Non-zero when a byte of v is zero.
    static uint64_t HasZero(uint64_t v) {
        return (v - 0x0101010101010101ULL) & ~v & 0x8080808080808080ULL;
    }
#endif

    int column_ = 0;
};

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

GeneratedCorpus::GeneratedCorpus(CorpusOptions options) : options_(options) {
    Rng rng(Mix(options_.seed) ^ 0x5eed);
    // Posted within the last fortnight, so that header expiry keeps every file.
    const int64_t ten_days_ago = (static_cast<int64_t>(time(nullptr)) / 86400 - 10) * 86400;
    int64_t date = ten_days_ago + static_cast<int64_t>(rng.Range(0, 86400 * 3));
    auto group = [&](const std::string& name, int64_t first) {
        groups_.push_back(GroupInfo{name, first, first - 1, 0});
        slots_.emplace_back();
        return groups_.size() - 1;
    };
    auto name = [&](const char* ext) {
        return rng.Pick(kWords) + "_" + rng.Pick(kWords) + "_" + std::to_string(rng.Range(1, 99)) +
               ext;
    };

    size_t test = group("alt.binaries.test", 100001);
    struct Plan {
        CorpusEncoding encoding;
        uint64_t low, high;
        const char* ext;
    };
    std::vector<Plan> plans = {
        {CorpusEncoding::YEnc, 800000, 1500000, ".jpg"},
        {CorpusEncoding::YEnc, 400000, 1200000, ".rar"},
        {CorpusEncoding::YEnc, 1000, 60000, ".nfo"},
        {CorpusEncoding::YEnc, 385000, 900000, ".pdf"},
        {CorpusEncoding::UU, 30000, 80000, ".gif"},
        {CorpusEncoding::UU, 2000, 20000, ".txt"},
        {CorpusEncoding::Base64, 30000, 90000, ".png"},
        {CorpusEncoding::Base64, 60000, 120000, ".zip"},
        {CorpusEncoding::Text, 0, 0, ""},
        {CorpusEncoding::Text, 0, 0, ""},
    };
    std::string set_name = rng.Pick(kWords) + " " + rng.Pick(kWords);
    int yenc_total = 0, yenc_index = 0;
    for (const Plan& p : plans)
        yenc_total += p.encoding == CorpusEncoding::YEnc;
    for (const Plan& p : plans) {
        CorpusFile f;
        f.encoding = p.encoding;
        f.group = "alt.binaries.test";
        f.poster = rng.Pick(kPosters);
        f.date = date += static_cast<int64_t>(rng.Range(60, 3600));
        if (p.encoding == CorpusEncoding::Text) {
            f.name = "text";
            f.subject = "Request: " + rng.Pick(kWords) + " " + rng.Pick(kWords) + " anyone?";
            f.size = 0;
            f.part_bytes = 0;
        } else {
            f.name = name(p.ext);
            f.size = rng.Range(p.low, p.high);
            f.part_bytes = p.encoding == CorpusEncoding::YEnc ? kYEncPart
                           : p.encoding == CorpusEncoding::UU ? kUUPart
                                                              : kBase64Part;
        }
        if (p.encoding == CorpusEncoding::YEnc) {
            char counter[32];
            std::snprintf(counter, sizeof counter, "[%02d/%02d]", ++yenc_index, yenc_total);
            f.subject = set_name + " " + counter + " - \"" + f.name + "\" yEnc";
        } else if (p.encoding == CorpusEncoding::UU) {
            f.subject = f.name;
        } else if (p.encoding == CorpusEncoding::Base64) {
            f.subject = "Pictures - " + f.name;
        }
        AddFile(std::move(f), test);
    }

    size_t big = group("alt.binaries.big", 5000001);
    uint64_t left = static_cast<uint64_t>(std::max<int64_t>(0, options_.big_megabytes)) << 20;
    for (int i = 1; left > 0; ++i) {
        CorpusFile f;
        f.encoding = CorpusEncoding::YEnc;
        f.group = "alt.binaries.big";
        f.poster = rng.Pick(kPosters);
        f.date = date += 120;
        uint64_t largest = static_cast<uint64_t>(std::max<int64_t>(1, options_.big_file_megabytes))
                           << 20;
        f.size = std::min<uint64_t>(left, largest);
        left -= f.size;
        f.part_bytes = kYEncBigPart;
        char file_name[64];
        std::snprintf(file_name, sizeof file_name, "bigfile.part%03d.rar", i);
        f.name = file_name;
        f.subject = "Big upload - \"" + f.name + "\" yEnc";
        AddFile(std::move(f), big);
    }

    size_t text = group("alt.test.text", 1);
    for (int i = 0; i < 20; ++i) {
        CorpusFile f;
        f.encoding = CorpusEncoding::Text;
        f.group = "alt.test.text";
        f.poster = rng.Pick(kPosters);
        f.date = date += static_cast<int64_t>(rng.Range(60, 7200));
        f.name = "text";
        f.subject =
            (i % 3 ? "Re: " : "") + std::string("Discussion about ") + kWords[i % kWords.size()];
        AddFile(std::move(f), text);
    }
    group("alt.binaries.empty", 1);
    crcs_.resize(files_.size());
}

void GeneratedCorpus::AddFile(CorpusFile file, size_t group) {
    if (file.encoding != CorpusEncoding::Text)
        file.parts = static_cast<int>((file.size + file.part_bytes - 1) / file.part_bytes);
    GroupInfo& g = groups_[group];
    file.first_number = g.last + 1;
    size_t index = files_.size();
    for (int p = 1; p <= file.parts; ++p) {
        ++g.last;
        slots_[group].push_back(Slot{index, p});
    }
    files_.push_back(std::move(file));
    const CorpusFile& f = files_.back();
    for (int p = 1; p <= f.parts; ++p) {
        if (!PartMissing(index, p)) {
            g.count++;
            ids_[PartMessageId(index, p)] = ArticleKey{group, f.first_number + p - 1};
        }
    }
}

bool GeneratedCorpus::PartMissing(size_t file, int part) const {
    if (options_.missing_percent <= 0)
        return false;
    uint64_t h = Mix(options_.seed * 1000003 + file * 7919 + static_cast<uint64_t>(part));
    return static_cast<int>(h % 100) < options_.missing_percent;
}

std::string GeneratedCorpus::PartMessageId(size_t file, int part) const {
    return "<part" + std::to_string(part) + "of" + std::to_string(files_[file].parts) + ".f" +
           std::to_string(file) + ".s" + std::to_string(options_.seed) + "@testserver.quillstream>";
}

std::string GeneratedCorpus::PartSubject(size_t file, int part) const {
    const CorpusFile& f = files_[file];
    std::string counter = std::to_string(part) + "/" + std::to_string(f.parts);
    switch (f.encoding) {
        case CorpusEncoding::YEnc:
            return f.subject + " (" + counter + ") " + std::to_string(f.size);
        case CorpusEncoding::UU:
            return f.subject + " (" + counter + ")";
        case CorpusEncoding::Base64:
            return f.subject + " [" + counter + "]";
        case CorpusEncoding::Text:
            break;
    }
    return f.subject;
}

void GeneratedCorpus::FileBytes(size_t file, uint64_t offset, size_t size, char* out) const {
    // Byte i of a file is byte i % 8 of Mix(base ^ (i / 8 * K)), little-endian.
    const uint64_t base = Mix(options_.seed * 0x100000001b3ULL + file);
    constexpr uint64_t kStep = 0x9e3779b97f4a7c15ULL;
    auto block_bytes = [&](uint64_t block, unsigned char bytes[8]) {
        uint64_t value = Mix(base ^ (block * kStep));
        std::memcpy(bytes, &value, 8);
    };
    uint64_t pos = offset;
    const uint64_t end = offset + size;
    unsigned char bytes[8];
    if (pos % 8 != 0 && pos < end) {  // the head, up to the next whole block
        block_bytes(pos / 8, bytes);
        for (uint64_t i = pos % 8; i < 8 && pos < end; ++i, ++pos)
            *out++ = static_cast<char>(bytes[i]);
    }
    uint64_t block = pos / 8;
    for (uint64_t whole = (end - pos) / 8; whole > 0; --whole, ++block, out += 8) {
        uint64_t value = Mix(base ^ (block * kStep));
        std::memcpy(out, &value, 8);
    }
    pos = block * 8 > pos ? block * 8 : pos;
    if (pos < end) {  // the tail
        block_bytes(pos / 8, bytes);
        for (uint64_t i = 0; pos < end; ++i, ++pos)
            *out++ = static_cast<char>(bytes[i]);
    }
}

std::string GeneratedCorpus::FileData(size_t file) const {
    std::string data(files_[file].size, '\0');
    FileBytes(file, 0, data.size(), data.data());
    return data;
}

uint32_t GeneratedCorpus::FileCrc(size_t file) const {
    {
        std::lock_guard lock(crc_mutex_);
        if (crcs_[file])
            return *crcs_[file];
    }
    uint32_t crc = 0;
    std::string chunk(1 << 20, '\0');
    for (uint64_t at = 0; at < files_[file].size; at += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), files_[file].size - at));
        FileBytes(file, at, n, chunk.data());
        crc = Crc32(crc, reinterpret_cast<const unsigned char*>(chunk.data()), n);
    }
    std::lock_guard lock(crc_mutex_);
    crcs_[file] = static_cast<uint32_t>(crc);
    return static_cast<uint32_t>(crc);
}

void GeneratedCorpus::PrepareChecksums() const {
    for (size_t f = 0; f < files_.size(); ++f)
        if (files_[f].encoding == CorpusEncoding::YEnc && files_[f].parts > 1)
            FileCrc(f);
}

std::string GeneratedCorpus::Sha256Hex(size_t file) const {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr);
    std::string chunk(1 << 20, '\0');
    for (uint64_t at = 0; at < files_[file].size; at += chunk.size()) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), files_[file].size - at));
        FileBytes(file, at, n, chunk.data());
        EVP_DigestUpdate(ctx, chunk.data(), n);
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    std::string hex;
    char two[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

std::string GeneratedCorpus::Nzb() const {
    std::string out =
        "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\n"
        "<!DOCTYPE nzb PUBLIC \"-//newzBin//DTD NZB 1.1//EN\" "
        "\"http://www.newzbin.com/DTD/nzb/nzb-1.1.dtd\">\n"
        "<nzb xmlns=\"http://www.newzbin.com/DTD/2003/nzb\">\n";
    for (size_t i = 0; i < files_.size(); ++i) {
        const CorpusFile& f = files_[i];
        if (f.encoding == CorpusEncoding::Text)
            continue;
        out += " <file poster=\"" + XmlEscape(f.poster) + "\" date=\"" + std::to_string(f.date) +
               "\" subject=\"" + XmlEscape(PartSubject(i, 1)) + "\">\n  <groups><group>" + f.group +
               "</group></groups>\n  <segments>\n";
        for (int p = 1; p <= f.parts; ++p) {
            std::string id = PartMessageId(i, p);
            uint64_t bytes = std::min<uint64_t>(f.part_bytes, f.size - (p - 1) * f.part_bytes);
            out += "   <segment bytes=\"" + std::to_string(bytes * 102 / 100 + 200) +
                   "\" number=\"" + std::to_string(p) + "\">" +
                   XmlEscape(id.substr(1, id.size() - 2)) + "</segment>\n";
        }
        out += "  </segments>\n </file>\n";
    }
    out += "</nzb>\n";
    return out;
}

std::string GeneratedCorpus::Sha256List() const {
    std::string out;
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].encoding != CorpusEncoding::Text)
            out += Sha256Hex(i) + "  " + files_[i].name + "\n";
    }
    return out;
}

std::optional<size_t> GeneratedCorpus::FindGroup(std::string_view name) const {
    for (size_t i = 0; i < groups_.size(); ++i) {
        if (groups_[i].name == name)
            return i;
    }
    return std::nullopt;
}

const GeneratedCorpus::Slot* GeneratedCorpus::Lookup(const ArticleKey& key) const {
    if (key.group >= groups_.size())
        return nullptr;
    int64_t offset = key.number - groups_[key.group].first;
    if (offset < 0 || offset >= static_cast<int64_t>(slots_[key.group].size()))
        return nullptr;
    const Slot* slot = &slots_[key.group][static_cast<size_t>(offset)];
    return PartMissing(slot->file, slot->part) ? nullptr : slot;
}

bool GeneratedCorpus::Find(size_t group, int64_t number, ArticleKey& key) const {
    key = ArticleKey{group, number};
    return Lookup(key) != nullptr;
}

bool GeneratedCorpus::FindId(std::string_view message_id, ArticleKey& key) const {
    auto it = ids_.find(std::string(message_id));
    if (it == ids_.end())
        return false;
    key = it->second;
    return true;
}

std::string GeneratedCorpus::MessageId(const ArticleKey& key) const {
    const Slot* s = Lookup(key);
    return s ? PartMessageId(s->file, s->part) : std::string();
}

void GeneratedCorpus::AppendHead(const ArticleKey& key, std::string& out) const {
    const Slot* s = Lookup(key);
    if (!s)
        return;
    const CorpusFile& f = files_[s->file];
    out += "Path: testserver.quillstream!not-for-mail\r\nFrom: " + f.poster +
           "\r\nNewsgroups: " + f.group + "\r\nSubject: " + PartSubject(s->file, s->part) +
           "\r\nDate: " + Date(f.date) + "\r\nMessage-ID: " + PartMessageId(s->file, s->part) +
           "\r\n";
    if (f.encoding == CorpusEncoding::Text && f.subject.rfind("Re: ", 0) == 0 && s->file > 0)
        out += "References: " + PartMessageId(s->file - 1, 1) + "\r\n";
    if (f.encoding == CorpusEncoding::Base64 && s->part == 1) {
        out += "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" +
               std::string(kBoundary) + "\"\r\n";
    }
}

void GeneratedCorpus::AppendOverview(const ArticleKey& key, std::string& out) const {
    const Slot* s = Lookup(key);
    if (!s)
        return;
    const CorpusFile& f = files_[s->file];
    uint64_t part = f.encoding == CorpusEncoding::Text
                        ? 400
                        : std::min<uint64_t>(f.part_bytes, f.size - (s->part - 1) * f.part_bytes);
    std::string refs;
    if (f.encoding == CorpusEncoding::Text && f.subject.rfind("Re: ", 0) == 0 && s->file > 0)
        refs = PartMessageId(s->file - 1, 1);
    out += std::to_string(key.number) + "\t" + PartSubject(s->file, s->part) + "\t" + f.poster +
           "\t" + Date(f.date) + "\t" + PartMessageId(s->file, s->part) + "\t" + refs + "\t" +
           std::to_string(part * 102 / 100 + 200) + "\t" + std::to_string(part / 120 + 4);
}

void GeneratedCorpus::AppendBody(const ArticleKey& key, std::string& out) const {
    AppendBodyStreaming(key, out, nullptr);
}

bool GeneratedCorpus::AppendBodyStreaming(const ArticleKey& key, std::string& out,
                                          const std::function<bool(std::string&)>& flush) const {
    const Slot* s = Lookup(key);
    if (!s)
        return true;
    switch (files_[s->file].encoding) {
        case CorpusEncoding::YEnc:
            return AppendYEnc(s->file, s->part, out, flush ? &flush : nullptr);
        case CorpusEncoding::UU:
            AppendUU(s->file, s->part, out);
            break;
        case CorpusEncoding::Base64:
            AppendBase64(s->file, s->part, out);
            break;
        case CorpusEncoding::Text:
            AppendText(s->file, out);
            break;
    }
    return true;
}

bool GeneratedCorpus::AppendYEnc(size_t file, int part, std::string& out,
                                 const std::function<bool(std::string&)>* flush) const {
    const CorpusFile& f = files_[file];
    uint64_t begin = static_cast<uint64_t>(part - 1) * f.part_bytes;
    uint64_t size = std::min<uint64_t>(f.part_bytes, f.size - begin);
    char line[256];
    if (f.parts > 1) {
        std::snprintf(line, sizeof line, "=ybegin part=%d total=%d line=%d size=%llu name=%s\r\n",
                      part, f.parts, kYEncLine, static_cast<unsigned long long>(f.size),
                      f.name.c_str());
        out += line;
        std::snprintf(line, sizeof line, "=ypart begin=%llu end=%llu\r\n",
                      static_cast<unsigned long long>(begin + 1),
                      static_cast<unsigned long long>(begin + size));
        out += line;
    } else {
        std::snprintf(line, sizeof line, "=ybegin line=%d size=%llu name=%s\r\n", kYEncLine,
                      static_cast<unsigned long long>(f.size), f.name.c_str());
        out += line;
    }
    // The part is made, checksummed and encoded a piece at a time, so that the raw bytes
    // stay in the cache; the encoded pieces are appended to the reply.
    out.reserve(out.size() + size + size / 16 + 256);
    thread_local std::vector<unsigned char> raw(kYEncPiece);
    thread_local std::vector<char> encoded(YEncWriter::MaxOutput(kYEncPiece));
    YEncWriter writer;
    uint32_t crc = 0;
    for (uint64_t done = 0; done < size;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kYEncPiece, size - done));
        FileBytes(file, begin + done, n, reinterpret_cast<char*>(raw.data()));
        crc = Crc32(crc, raw.data(), n);
        done += n;
        size_t written = writer.Encode(raw.data(), n, done == size, encoded.data());
        out.append(encoded.data(), written);
        if (flush && out.size() >= kYEncFlush && !(*flush)(out))
            return false;
    }
    uint32_t pcrc = static_cast<uint32_t>(crc);
    if (f.parts > 1) {
        std::snprintf(line, sizeof line, "=yend size=%llu part=%d pcrc32=%08x",
                      static_cast<unsigned long long>(size), part, pcrc);
        out += line;
        if (part == f.parts) {
            std::snprintf(line, sizeof line, " crc32=%08x", FileCrc(file));
            out += line;
        }
    } else {
        std::snprintf(line, sizeof line, "=yend size=%llu crc32=%08x",
                      static_cast<unsigned long long>(size), pcrc);
        out += line;
    }
    out += "\r\n";
    return true;
}

void GeneratedCorpus::AppendUU(size_t file, int part, std::string& out) const {
    const CorpusFile& f = files_[file];
    uint64_t begin = static_cast<uint64_t>(part - 1) * f.part_bytes;
    uint64_t size = std::min<uint64_t>(f.part_bytes, f.size - begin);
    std::string data(size, '\0');
    FileBytes(file, begin, size, data.data());
    auto enc = [](unsigned v) { return static_cast<char>(v ? v + 32 : '`'); };
    if (part == 1)
        out += "begin 644 " + f.name + "\r\n";
    for (uint64_t at = 0; at < size; at += kUULine) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kUULine, size - at));
        std::string line(1, enc(static_cast<unsigned>(n)));
        for (size_t i = 0; i < n; i += 3) {
            unsigned char b[3] = {0, 0, 0};
            for (size_t k = 0; k < 3 && i + k < n; ++k)
                b[k] = static_cast<unsigned char>(data[at + i + k]);
            line += enc(b[0] >> 2);
            line += enc(((b[0] & 3) << 4) | (b[1] >> 4));
            line += enc(((b[1] & 15) << 2) | (b[2] >> 6));
            line += enc(b[2] & 63);
        }
        if (line[0] == '.')
            out += '.';
        out += line + "\r\n";
    }
    if (part == f.parts)
        out += "`\r\nend\r\n";
}

void GeneratedCorpus::AppendBase64(size_t file, int part, std::string& out) const {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const CorpusFile& f = files_[file];
    uint64_t begin = static_cast<uint64_t>(part - 1) * f.part_bytes;
    uint64_t size = std::min<uint64_t>(f.part_bytes, f.size - begin);
    std::string data(size, '\0');
    FileBytes(file, begin, size, data.data());
    if (part == 1) {
        out += "This is a multi-part message in MIME format.\r\n\r\n--" + std::string(kBoundary) +
               "\r\nContent-Type: application/octet-stream; name=\"" + f.name +
               "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
               "filename=\"" +
               f.name + "\"\r\n\r\n";
    }
    for (uint64_t at = 0; at < size; at += kBase64Line) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(kBase64Line, size - at));
        for (size_t i = 0; i < n; i += 3) {
            unsigned v = static_cast<unsigned char>(data[at + i]) << 16;
            if (i + 1 < n)
                v |= static_cast<unsigned char>(data[at + i + 1]) << 8;
            if (i + 2 < n)
                v |= static_cast<unsigned char>(data[at + i + 2]);
            out += alphabet[(v >> 18) & 63];
            out += alphabet[(v >> 12) & 63];
            out += i + 1 < n ? alphabet[(v >> 6) & 63] : '=';
            out += i + 2 < n ? alphabet[v & 63] : '=';
        }
        out += "\r\n";
    }
    if (part == f.parts)
        out += "\r\n--" + std::string(kBoundary) + "--\r\n";
}

void GeneratedCorpus::AppendText(size_t file, std::string& out) const {
    Rng rng(Mix(options_.seed) ^ (file * 31));
    std::string text;
    int lines = static_cast<int>(rng.Range(3, 12));
    for (int i = 0; i < lines; ++i) {
        int words = static_cast<int>(rng.Range(4, 12));
        if (rng.Range(0, 9) == 0)
            text += ".";  // a line that needs dot-stuffing
        for (int w = 0; w < words; ++w)
            text += (w ? " " : "") + rng.Pick(kWords);
        text += "\n";
    }
    AppendWireLines(text, out);
}

}  // namespace qs::test

namespace qs::test {

namespace {

// `size` letters and digits drawn from `seed`.
void AppendRandomText(uint64_t seed, size_t size, std::string& out) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const size_t at = out.size();
    out.resize(at + size);
    for (size_t i = 0; i < size; ++i)
        out[at + i] = kAlphabet[Mix(seed * 131 + i) % (sizeof kAlphabet - 1)];
}

void AppendNumber(int64_t number, std::string& out) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, number).ptr);
}

// The name of a set is the same in all of its articles, which a server sends in a row: each
// serving thread keeps the last one instead of drawing it again for every overview line.
void AppendSetName(uint64_t seed, std::string& out) {
    thread_local uint64_t last_seed = ~uint64_t{0};
    thread_local std::string last_name;
    if (seed != last_seed) {
        last_name.clear();
        AppendRandomText(seed, 24, last_name);
        last_seed = seed;
    }
    out += last_name;
}

}  // namespace

ScanGroupCorpus::ScanGroupCorpus(std::shared_ptr<const NewsCorpus> base, int64_t articles,
                                 int64_t step)
    : base_(std::move(base)),
      articles_(articles > 0 ? articles : 0),
      step_(step > 0 ? step : 1),
      date_(RecentDate()) {
    if (base_)
        base_groups_ = base_->Groups().size();
}

bool ScanGroupCorpus::Ours(const ArticleKey& key) const {
    return key.group == base_groups_ && key.number >= 1 && (key.number - 1) % step_ == 0 &&
           (key.number - 1) / step_ < articles_;
}

std::vector<GroupInfo> ScanGroupCorpus::Groups() const {
    std::vector<GroupInfo> groups = base_ ? base_->Groups() : std::vector<GroupInfo>{};
    groups.push_back(GroupInfo{kGroupName, 1, 1 + (articles_ - 1) * step_, articles_});
    return groups;
}

std::optional<size_t> ScanGroupCorpus::FindGroup(std::string_view name) const {
    if (name == kGroupName)
        return base_groups_;
    return base_ ? base_->FindGroup(name) : std::nullopt;
}

bool ScanGroupCorpus::Find(size_t group, int64_t number, ArticleKey& key) const {
    if (group != base_groups_)
        return base_ && base_->Find(group, number, key);
    key = ArticleKey{group, number};
    return Ours(key);
}

// "<random-number@news.example.com>": the number after the last '-' names the article.
bool ScanGroupCorpus::FindId(std::string_view message_id, ArticleKey& key) const {
    size_t dash = message_id.rfind('-');
    size_t at = message_id.rfind('@');
    if (dash != std::string_view::npos && at != std::string_view::npos && dash < at) {
        int64_t number = 0;
        for (char c : message_id.substr(dash + 1, at - dash - 1))
            number =
                c >= '0' && c <= '9' && number <= articles_ * step_ ? number * 10 + (c - '0') : -1;
        ArticleKey ours{base_groups_, number};
        if (Ours(ours) && MessageId(ours) == message_id) {
            key = ours;
            return true;
        }
    }
    return base_ && base_->FindId(message_id, key);
}

std::string ScanGroupCorpus::MessageId(const ArticleKey& key) const {
    if (!Ours(key))
        return base_ && key.group != base_groups_ ? base_->MessageId(key) : std::string();
    std::string id;
    AppendMessageId(key.number, id);
    return id;
}

void ScanGroupCorpus::AppendMessageId(int64_t number, std::string& out) const {
    out += '<';
    AppendRandomText(static_cast<uint64_t>(number) * 2 + 1, 24, out);
    out += '-';
    AppendNumber(number, out);
    out += "@news.example.com>";
}

// "[v/20] - "name.partVV.rar" yEnc (p/50)": like a real binary group, every volume of a
// set of 20 is a file of kSetParts articles.
void ScanGroupCorpus::AppendSubject(int64_t number, std::string& out) const {
    const int64_t index = (number - 1) / step_;
    const int part = static_cast<int>(index % kSetParts) + 1;
    const int64_t volume = index / kSetParts;
    const int in_set = static_cast<int>(volume % kSetVolumes) + 1;
    out += '[';
    AppendNumber(in_set, out);
    out += '/';
    AppendNumber(kSetVolumes, out);
    out += "] - \"";
    AppendSetName(static_cast<uint64_t>(volume / kSetVolumes) * 2, out);
    out += ".part";
    out += static_cast<char>('0' + in_set / 10 % 10);
    out += static_cast<char>('0' + in_set % 10);
    out += ".rar\" yEnc (";
    AppendNumber(part, out);
    out += '/';
    AppendNumber(kSetParts, out);
    out += ')';
}

void ScanGroupCorpus::AppendHead(const ArticleKey& key, std::string& out) const {
    if (!Ours(key)) {
        if (base_ && key.group != base_groups_)
            base_->AppendHead(key, out);
        return;
    }
    out += "From: Poster " + std::to_string(key.number / 5000) +
           " <poster@example.com>\r\nNewsgroups: " + std::string(kGroupName) + "\r\nSubject: ";
    AppendSubject(key.number, out);
    out += "\r\nDate: " + date_ + "\r\nMessage-ID: " + MessageId(key) + "\r\n";
}

void ScanGroupCorpus::AppendBody(const ArticleKey& key, std::string& out) const {
    if (Ours(key))
        out += "x\r\n";
    else if (base_ && key.group != base_groups_)
        base_->AppendBody(key, out);
}

bool ScanGroupCorpus::AppendBodyStreaming(const ArticleKey& key, std::string& out,
                                          const std::function<bool(std::string&)>& flush) const {
    if (!Ours(key) && base_ && key.group != base_groups_)
        return base_->AppendBodyStreaming(key, out, flush);
    AppendBody(key, out);
    return true;
}

void ScanGroupCorpus::AppendOverview(const ArticleKey& key, std::string& out) const {
    if (!Ours(key)) {
        if (base_ && key.group != base_groups_)
            base_->AppendOverview(key, out);
        return;
    }
    AppendNumber(key.number, out);
    out += '\t';
    AppendSubject(key.number, out);
    out += "\tPoster ";
    AppendNumber(key.number / 5000, out);
    out += " <poster@example.com>\t";
    out += date_;
    out += '\t';
    AppendMessageId(key.number, out);
    out += "\t\t384200\t3000";
}

}  // namespace qs::test
