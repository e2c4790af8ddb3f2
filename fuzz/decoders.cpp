// Parts of an attachment through the decoder choice (UU, MIME base64, yEnc) to the output
// file in a scratch download directory. Input: a flags byte (bit 0 FilenameIsSubject, bit 1
// RenameExisting, bit 2 keep held-back yEnc parts), then the subject line, then the body
// lines of the parts, each part ended by a line holding only "\x1e".
//
// The download directory holds a symbolic link "evil.bin" to a file outside it.
// Invariants: nothing is created outside the download directory and nothing is written
// through the link; the directory holds only plain files (and the link); the output path
// names a file directly inside it; the bytes written (zero bytes aside) are no more than the
// input holds; every yEnc body decoder this CPU runs gives the plain one's bytes and CRC.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings.h"
#include "db/records.h"
#include "download/attachment_decoder.h"
#include "download/yenc_body.h"
#include "fuzz_support.h"

namespace {

using namespace qs;
namespace fs = std::filesystem;

struct Layout {
    std::string dl = fuzz::ScratchRoot() + "dl/";
    std::string outside = fuzz::ScratchRoot() + "outside/";
    std::string victim = outside + "victim";
    std::string link = dl + "evil.bin";

    void Reset() const {
        fuzz::EmptyDirectory(fuzz::ScratchRoot());
        fs::create_directories(dl);
        fs::create_directories(outside);
        const int fd = ::open(victim.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
        QS_FUZZ_CHECK(fd >= 0);
        ::close(fd);
        QS_FUZZ_CHECK(::symlink("../outside/victim", link.c_str()) == 0);
    }
};

// Bytes other than zero in the data extents of a file.
uint64_t NonZeroBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW);
    if (fd < 0)
        return 0;
    uint64_t count = 0;
    off_t at = 0;
    std::vector<unsigned char> buffer(1 << 16);
    for (;;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0)
            break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        for (off_t pos = data; pos < hole;) {
            const size_t want = static_cast<size_t>(std::min<off_t>(hole - pos, 1 << 16));
            const ssize_t n = ::pread(fd, buffer.data(), want, pos);
            if (n <= 0)
                break;
            for (ssize_t i = 0; i < n; ++i)
                count += buffer[static_cast<size_t>(i)] != 0;
            pos += n;
        }
        at = hole;
    }
    ::close(fd);
    return count;
}

void CheckDirectories(const Layout& layout, const std::string& output_path, uint64_t input) {
    QS_FUZZ_CHECK(fuzz::CountEntries(fuzz::ScratchRoot()) == 2);
    QS_FUZZ_CHECK(fuzz::CountEntries(layout.outside) == 1);
    struct stat st {};
    QS_FUZZ_CHECK(::stat(layout.victim.c_str(), &st) == 0 && st.st_size == 0);
    QS_FUZZ_CHECK(::lstat(layout.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    if (!output_path.empty()) {
        QS_FUZZ_CHECK(output_path.compare(0, layout.dl.size(), layout.dl) == 0);
        QS_FUZZ_CHECK(output_path.find('/', layout.dl.size()) == std::string::npos);
        QS_FUZZ_CHECK(output_path.size() > layout.dl.size());
        QS_FUZZ_CHECK(output_path != layout.link);
    }
    uint64_t written = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(layout.dl, ec)) {
        if (entry.path() == layout.link)
            continue;
        QS_FUZZ_CHECK(entry.is_regular_file(ec) && !entry.is_symlink(ec));
        written += NonZeroBytes(entry.path());
    }
    QS_FUZZ_CHECK(written <= input);
}

// Each part's body through every yEnc body decoder, whole and in slices of `slice` bytes.
void CheckBodyDecoders(const PartBody& body, size_t slice) {
    std::vector<uint8_t> expected(body.size()), got(body.size());
    uint32_t expected_crc = 0;
    const size_t expected_size =
        DecodeYencBody(DecodeYencBodyScalar, body, expected.data(), expected_crc);
    QS_FUZZ_CHECK(expected_size <= body.size());
    for (const auto& choice : AvailableYencBodyDecoders()) {
        uint32_t crc = 0;
        const size_t whole = DecodeYencBody(choice.decode, body, got.data(), crc);
        QS_FUZZ_CHECK(whole == expected_size && crc == expected_crc);
        QS_FUZZ_CHECK(std::equal(got.begin(), got.begin() + whole, expected.begin()));
        size_t i = 0, o = 0;
        bool escape = false;
        while (i < body.size())
            choice.decode(body, i, std::min(body.size(), i + slice), got.data(), o, escape);
        QS_FUZZ_CHECK(o == expected_size);
        QS_FUZZ_CHECK(std::equal(got.begin(), got.begin() + o, expected.begin()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    static const Layout layout;
    layout.Reset();
    const uint8_t flags = data[0];
    std::string_view input = fuzz::AsText(data + 1, size - 1);

    std::vector<LineList> parts(1);
    bool first = true;
    std::string subject;
    while (!input.empty()) {
        const size_t lf = input.find('\n');
        std::string_view line = input.substr(0, lf);
        input = lf == std::string_view::npos ? std::string_view() : input.substr(lf + 1);
        if (first) {
            subject = std::string(line);
            first = false;
        } else if (line == "\x1e") {
            parts.emplace_back();
        } else {
            parts.back().emplace_back(line);
        }
    }

    Settings settings;
    settings.FilenameIsSubject = flags & 1;
    settings.RenameExisting = (flags >> 1) & 1;
    Attachment entry;
    entry.filename = subject;
    entry.dir = layout.dl;
    std::string output_path;
    {
        AttachmentDecoder decoder(entry, settings);
        for (const LineList& lines : parts) {
            const PartBody body = lines;
            CheckBodyDecoders(body, 1 + flags / 8);
            if (decoder.Decode(body) && (flags & 4))
                decoder.KeepBadParts();
        }
        decoder.Finish();
        output_path = decoder.output_path();
    }
    CheckDirectories(layout, output_path, size - 1);
    return 0;
}
