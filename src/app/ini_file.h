#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qs {

// A Windows-style INI file held in memory. Section and key names compare without
// regard to case; a key written into an existing section goes to that section's end.
class IniFile {
  public:
    static constexpr size_t kMaxStringLength = 4095;

    // Reads a file; a missing or unreadable file gives an empty one.
    static IniFile Load(const std::string& path);
    static IniFile Parse(std::string_view text);

    // The value, cut to kMaxStringLength characters, or `fallback` when the key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view fallback = {}) const;
    // The leading decimal number of the value (0 when it has none), or `fallback`.
    int GetInt(std::string_view section, std::string_view key, int fallback) const;
    bool Has(std::string_view section, std::string_view key) const;

    void SetString(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int value);

    std::string Serialize() const;
    // Writes the file beside the old one and renames it over, so the path always holds a
    // whole file; created readable by its owner only. Returns false on any failure.
    bool Save(const std::string& path) const;

    struct Entry {
        std::string key;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const std::vector<Section>& sections() const { return sections_; }

  private:
    const Entry* Find(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
};

// The leading signed decimal number of `text` after blanks; 0 when there is none.
int LeadingInt(std::string_view text);

}  // namespace qs
