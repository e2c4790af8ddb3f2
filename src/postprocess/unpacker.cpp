#include "postprocess/unpacker.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>
#include <sys/statvfs.h>

#include <filesystem>
#include <memory>
#include <optional>

#include "app/text_util.h"
#include "postprocess/entry_path.h"

namespace qs {
namespace {

namespace fs = std::filesystem;
using Verdict = UnpackResult::Verdict;

constexpr size_t kReadBlock = 1 << 16;

struct ReaderCloser {
    void operator()(archive* reader) const { archive_read_free(reader); }
};
struct WriterCloser {
    void operator()(archive* writer) const { archive_write_free(writer); }
};
using Reader = std::unique_ptr<archive, ReaderCloser>;
using Writer = std::unique_ptr<archive, WriterCloser>;

UnpackResult Fail(Verdict verdict, std::string reason) {
    UnpackResult result;
    result.verdict = verdict;
    result.reason = std::move(reason);
    return result;
}

// libarchive converts entry names to the thread's locale and gives none where that fails; in
// the "C" locale every UTF-8 name would be lost. Linux names are bytes: UTF-8 passes as is.
class Utf8NamesOnThisThread {
  public:
    Utf8NamesOnThisThread() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {
        if (utf8_)
            previous_ = ::uselocale(utf8_);
    }
    ~Utf8NamesOnThisThread() {
        if (utf8_) {
            ::uselocale(previous_);
            ::freelocale(utf8_);
        }
    }
    Utf8NamesOnThisThread(const Utf8NamesOnThisThread&) = delete;
    Utf8NamesOnThisThread& operator=(const Utf8NamesOnThisThread&) = delete;

  private:
    locale_t utf8_;
    locale_t previous_ = LC_GLOBAL_LOCALE;
};

std::string ErrorText(archive* handle) {
    const char* text = archive_error_string(handle);
    return text && *text ? text : "unknown archive error";
}

// libarchive names a password or encryption in its messages for data it cannot decrypt.
bool MentionsEncryption(const std::string& text) {
    const std::string lower = ToLower(text);
    return lower.find("encrypt") != std::string::npos ||
           lower.find("password") != std::string::npos ||
           lower.find("passphrase") != std::string::npos;
}

UnpackResult ReadFailure(archive* reader, const std::string& what) {
    const std::string text = ErrorText(reader);
    if (MentionsEncryption(text))
        return Fail(Verdict::encrypted, "encrypted archive (" + text + ")");
    return Fail(Verdict::failed, what + ": " + text);
}

Reader OpenVolumes(const std::vector<std::string>& volumes, UnpackResult& failure) {
    Reader reader(archive_read_new());
    if (!reader) {
        failure = Fail(Verdict::failed, "out of memory");
        return nullptr;
    }
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_all(reader.get());
    std::vector<const char*> names;
    for (const std::string& volume : volumes)
        names.push_back(volume.c_str());
    names.push_back(nullptr);
    if (archive_read_open_filenames(reader.get(), names.data(), kReadBlock) != ARCHIVE_OK) {
        failure = ReadFailure(reader.get(), "cannot open " + volumes.front());
        return nullptr;
    }
    return reader;
}

std::string EntryName(archive_entry* entry) {
    const char* name = archive_entry_pathname(entry);
    return name ? name : "";
}

// Files, directories and links; a device or fifo from a download is never made.
bool IsWanted(archive_entry* entry) {
    const auto type = archive_entry_filetype(entry);
    return type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK;
}

bool IsEncrypted(archive* reader, archive_entry* entry) {
    return archive_entry_is_encrypted(entry) || archive_read_has_encrypted_entries(reader) > 0;
}

// The first pass: every header, no data written. Fills the total size on success.
std::optional<UnpackResult> CheckEntries(const std::vector<std::string>& volumes,
                                         int64_t& total_size) {
    UnpackResult failure;
    Reader reader = OpenVolumes(volumes, failure);
    if (!reader)
        return failure;
    total_size = 0;
    archive_entry* entry;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        const std::string name = EntryName(entry);
        if (!IsConfinedEntryName(name))
            return Fail(Verdict::failed, "unsafe name in archive: \"" + name + "\"");
        const char* symlink = archive_entry_symlink(entry);
        if (symlink && !IsConfinedSymlink(name, symlink))
            return Fail(Verdict::failed, "link out of the directory in archive: \"" + name +
                                             "\" -> \"" + symlink + "\"");
        const char* hardlink = archive_entry_hardlink(entry);
        if (hardlink && !IsConfinedEntryName(hardlink))
            return Fail(Verdict::failed, "link out of the directory in archive: \"" + name +
                                             "\" -> \"" + hardlink + "\"");
        if (IsEncrypted(reader.get(), entry))
            return Fail(Verdict::encrypted, "encrypted archive");
        if (IsWanted(entry) && archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
            total_size += archive_entry_size(entry);
    }
    if (status != ARCHIVE_EOF)
        return ReadFailure(reader.get(), "damaged archive");
    return std::nullopt;
}

std::optional<UnpackResult> CheckFreeSpace(const std::string& dir, int64_t needed) {
    struct statvfs info;
    if (::statvfs(dir.c_str(), &info) != 0)
        return std::nullopt;  // unknown: the writes will say when space runs out
    const auto available =
        static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
    if (available >= needed)
        return std::nullopt;
    return Fail(Verdict::failed, "not enough free space: " + std::to_string(needed) +
                                     " bytes needed, " + std::to_string(available) + " free");
}

Writer OpenTarget() {
    Writer writer(archive_write_disk_new());
    // Entry names are made absolute under the target below, so NOABSOLUTEPATHS cannot be
    // set; CheckEntries refuses absolute names instead.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    return writer;
}

// Copies one entry's data; a failure message, or empty.
std::optional<UnpackResult> CopyData(archive* reader, archive* writer,
                                     const UnpackOptions& options) {
    const void* block;
    size_t size;
    la_int64_t offset;
    while (true) {
        if (options.should_stop && options.should_stop())
            return Fail(Verdict::failed, "stopped");
        const int status = archive_read_data_block(reader, &block, &size, &offset);
        if (status == ARCHIVE_EOF)
            return std::nullopt;
        if (status < ARCHIVE_WARN)
            return ReadFailure(reader, "damaged archive");
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            return Fail(Verdict::failed, "cannot write: " + ErrorText(writer));
    }
}

UnpackResult Extract(const std::vector<std::string>& volumes, const std::string& target,
                     const UnpackOptions& options) {
    UnpackResult failure;
    Reader reader = OpenVolumes(volumes, failure);
    if (!reader)
        return failure;
    Writer writer = OpenTarget();
    if (!writer)
        return Fail(Verdict::failed, "out of memory");
    UnpackResult result;
    result.verdict = Verdict::unpacked;
    archive_entry* entry;
    int status;
    while ((status = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK ||
           status == ARCHIVE_WARN) {
        if (!IsWanted(entry))
            continue;  // its data is skipped by the next header
        const std::string name = EntryName(entry);
        archive_entry_set_pathname(entry, (target + "/" + name).c_str());
        if (const char* hardlink = archive_entry_hardlink(entry))
            archive_entry_set_hardlink(entry, (target + "/" + hardlink).c_str());
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            return Fail(Verdict::failed,
                        "cannot write \"" + name + "\": " + ErrorText(writer.get()));
        if (auto copy_failure = CopyData(reader.get(), writer.get(), options)) {
            copy_failure->files = result.files;
            return *copy_failure;
        }
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            return Fail(Verdict::failed,
                        "cannot write \"" + name + "\": " + ErrorText(writer.get()));
        if (archive_entry_filetype(entry) == AE_IFREG)
            ++result.files;
    }
    if (status != ARCHIVE_EOF) {
        UnpackResult damaged = ReadFailure(reader.get(), "damaged archive");
        damaged.files = result.files;
        return damaged;
    }
    return result;
}

}  // namespace

UnpackResult UnpackArchive(const std::vector<std::string>& volumes, const std::string& target_dir,
                           const UnpackOptions& options) {
    try {
        const Utf8NamesOnThisThread utf8_names;
        if (volumes.empty())
            return Fail(Verdict::failed, "no archive volumes");
        std::error_code error;
        fs::create_directories(target_dir, error);
        // Resolved, so that SECURE_SYMLINKS meets no link in the target's own path.
        const fs::path target = fs::canonical(target_dir, error);
        if (error)
            return Fail(Verdict::failed,
                        "cannot use directory " + target_dir + ": " + error.message());
        int64_t total_size = 0;
        if (auto refused = CheckEntries(volumes, total_size))
            return *refused;
        if (auto refused = CheckFreeSpace(target.string(), total_size))
            return *refused;
        return Extract(volumes, target.string(), options);
    } catch (const std::exception& e) {
        return Fail(Verdict::failed, e.what());
    }
}

}  // namespace qs
