// The settings file as the program reads it. Input: the file's bytes.
//
// Invariants: a parsed file written out and read again gives the same text (the writer's
// output is a fixed point); settings read from any file, saved and loaded again are the same
// settings; no value read is longer than the reader's limit; passwords and byte blobs come
// back from their stored forms unchanged.

#include <string>
#include <string_view>
#include <vector>

#include "app/ini_file.h"
#include "app/settings.h"
#include "fuzz_support.h"

namespace {

using namespace qs;

std::string SettingsText(const Settings& settings) {
    return SettingsToIni(settings).Serialize();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text = fuzz::AsText(data, size);

    const IniFile ini = IniFile::Parse(text);
    const std::string written = ini.Serialize();
    QS_FUZZ_CHECK(IniFile::Parse(written).Serialize() == written);
    for (const IniFile::Section& section : ini.sections()) {
        for (const IniFile::Entry& entry : section.entries) {
            QS_FUZZ_CHECK(ini.Has(section.name, entry.key));
            QS_FUZZ_CHECK(ini.GetString(section.name, entry.key).size() <=
                          IniFile::kMaxStringLength);
            (void)ini.GetInt(section.name, entry.key, 0);
        }
    }

    const Settings settings = SettingsFromIni(ini);
    const std::string saved = SettingsText(settings);
    const Settings reread = SettingsFromIni(IniFile::Parse(saved));
    QS_FUZZ_CHECK(SettingsText(reread) == saved);

    static const std::string path = fuzz::ScratchRoot() + "Quillstream.ini";
    QS_FUZZ_CHECK(SaveSettings(settings, path));
    QS_FUZZ_CHECK(SettingsText(LoadSettings(path)) == saved);

    const std::string password(text.substr(0, 512));
    QS_FUZZ_CHECK(DecodePasswordValue(EncodePasswordValue(password)) == password);
    QS_FUZZ_CHECK(UnscramblePassword(ScramblePassword(password)) == password);
    const std::vector<uint8_t> bytes(data, data + std::min<size_t>(size, 512));
    QS_FUZZ_CHECK(DecodeBytes(EncodeBytes(bytes)) == bytes);
    (void)DecodeBytes(password);
    (void)DecodePasswordValue(password);
    return 0;
}
