#pragma once
// The user-visible texts of one language, read once from the product's
// string table "Resource\<language>\StringTable.ini" into memory. A missing
// file or section is logged and leaves what was read so far usable: callers
// keep their own default texts for keys that are not found.
#include <map>
#include <string>

// The section every component reads first; its texts win over the caller's.
constexpr wchar_t L10N_GLOBAL_SECTION[] = L"Global";
// The additional section of the browser add-ons, whose table lies in the
// product's installed folder rather than beside the running program.
constexpr wchar_t L10N_ADDON_SECTION[] = L"IEBHO";
constexpr wchar_t L10N_FILE_NAME[] = L"StringTable.ini";
constexpr wchar_t L10N_RESOURCE_FOLDER[] = L"Resource";
// A section is read in one buffer that grows in these steps, up to the
// largest count a signed 16-bit value can hold, less one.
constexpr unsigned L10N_BUFFER_STEP = 0x1000;
constexpr unsigned L10N_BUFFER_LIMIT = 0x7FFE;

class CL10nReader {
public:
    CL10nReader() = default;
    virtual ~CL10nReader() = default;
    CL10nReader(const CL10nReader&) = delete;
    CL10nReader& operator=(const CL10nReader&) = delete;

    // Reads "Global" and then additionalSection (none when empty). False when
    // the file is missing or a section could not be read.
    bool ParseL10nFile(const std::wstring& languageName, const std::wstring& additionalSection);
    // Adds one section's key=value lines; a key already known keeps its value.
    bool QueryIniValue(const std::wstring& filePath, const std::wstring& section);
    // The text of the key (case matters), valid while the reader lives; null
    // when the key is unknown.
    const wchar_t* GetString(const std::wstring& key) const;

    unsigned Count() const { return static_cast<unsigned>(m_strings.size()); }

private:
    void AddLine(const wchar_t* line);

    std::map<std::wstring, std::wstring> m_strings;
};
