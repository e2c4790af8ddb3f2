#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "app/host.h"
#include "app/settings.h"

namespace qs {

// Longest file name (one path component) we create, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

// Turns a name found in encoded data (or the subject, with `FilenameIsSubject`) into the
// full path of the output file inside `directory` (which ends in "/"). The name is
// untrusted: quotes at both ends are dropped, reserved and control characters become "_",
// names made only of dots or empty become "_", and over-long names are cut keeping their
// extension, so the result always names a file directly inside `directory`. With
// `RenameExisting` an existing file is not overwritten (see SmartRename); a symbolic link
// or anything else that is not a plain file is never written through, setting or not.
std::string MakeOutputPath(std::string_view subject, std::string_view name,
                           std::string_view directory, const Settings& settings);

// The safe file-name part of MakeOutputPath, without the directory.
std::string SanitizeFileName(std::string_view name);

// Cuts `name` to at most `limit` bytes, shortening the part before the extension and
// never splitting a UTF-8 sequence; names within the limit are returned unchanged.
std::string FitFileName(std::string_view name, size_t limit = kMaxFileNameBytes);

// While a file, directory or link of that path exists, numbers the file name:
// file.rar -> file_1.rar -> file_2.rar, file_7.rar -> file_8.rar, file_a.rar -> file_1.rar,
// README -> README_1. Only the file name is looked at; the directory stays as it is.
void SmartRename(std::string& path);

// Collapses doubled "/", appends a trailing "/", and creates the directory when it is
// missing: after asking through `host` unless `AutoCreateDirs` is set. "Failed!" is shown
// when the creation fails. True when the directory exists afterwards.
bool EnsureDirectory(std::string_view directory, const Settings& settings, Host& host);
// The same with the choice made by the caller: ask first, or create without asking.
bool EnsureDirectory(std::string_view directory, bool ask_first, Host& host);

// Creates every missing directory of `path`; true when all of them exist afterwards.
bool CreateDirectoryTree(std::string_view path);

// The directory for files of the named group: the subscribed group's own directory, or
// one derived from `BaseDir`.
std::string DownloadDirFor(std::string_view group, const Settings& settings);

// Points every subscribed group's download directory below `base`, ensures each, and
// asks the views to refresh.
void ApplyBaseDir(std::string_view base, Settings& settings, Host& host);

}  // namespace qs
