#pragma once
// Temporary folders and reading or writing whole files while other
// processes may still hold them open.
#include <windows.h>
#include <string>
#include <vector>

namespace KelTest {

// The temp folder, ending in "\\".
std::wstring TempPath();

// A fresh folder under the temp folder, removed with everything in it at the end.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return m_path; }   // ends in "\"
private:
    std::wstring m_path;
};

// folder + name, with one "\" between them.
std::wstring Join(const std::wstring& folder, const std::wstring& name);
// Names of the files (not folders) of a folder, sorted.
std::vector<std::wstring> FileNames(const std::wstring& folder);
// The raw bytes of a file, read with every sharing mode; empty when missing.
std::string ReadBytes(const std::wstring& path);
// Every file of a folder in name order, one after the other.
std::string ReadFolder(const std::wstring& folder);
// The lines of a file, without their line ends.
std::vector<std::string> ReadLines(const std::wstring& path);
bool WriteText(const std::wstring& path, const std::string& content);
bool IsFolder(const std::wstring& path);
void RemoveTree(const std::wstring& folder);   // folder ends in "\"

// A string table of a language of the test's own, StringTable.ini in the
// folder "Resource\<name>" below base, written in UTF-16 as the product
// ships it, and removed at the end. base ends in a backslash.
class LanguageTable {
public:
    LanguageTable(const std::wstring& base, const std::wstring& table);
    ~LanguageTable();
    LanguageTable(const LanguageTable&) = delete;
    LanguageTable& operator=(const LanguageTable&) = delete;
    const std::wstring& Name() const { return m_name; }
private:
    std::wstring m_name, m_folder;
};

} // namespace KelTest
