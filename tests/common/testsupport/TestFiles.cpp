#include "TestFiles.h"
#include "QvHandle.h"
#include "TestNames.h"

#include <algorithm>
#include <sstream>

namespace KelTest {

std::wstring TempPath() {
    wchar_t temp[MAX_PATH + 1];
    DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp, length <= MAX_PATH ? length : 0);
}

TempFolder::TempFolder() : m_path(TempPath() + UniqueName(L"kel") + L"\\") {
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    QvCommon::UniqueFind found(::FindFirstFileW((folder + L"*").c_str(), &data));
    if (found) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring path = folder + name;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(path + L"\\");
            else ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(found.get(), &data));
    }
    found.reset();
    ::RemoveDirectoryW(folder.c_str());
}

std::wstring Join(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || folder.back() == L'\\') return folder + name;
    return folder + L'\\' + name;
}

std::vector<std::wstring> FileNames(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    QvCommon::UniqueFind find(::FindFirstFileW(Join(folder, L"*").c_str(), &data));
    if (!find) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (::FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

std::string ReadBytes(const std::wstring& path) {
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file) return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read != 0)
        bytes.append(buffer, read);
    return bytes;
}

std::string ReadFolder(const std::wstring& folder) {
    std::string text;
    for (const std::wstring& name : FileNames(folder)) text += ReadBytes(Join(folder, name));
    return text;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::istringstream stream(ReadBytes(path));
    for (std::string line; std::getline(stream, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool WriteText(const std::wstring& path, const std::string& content) {
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file && ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written,
                               nullptr) && written == content.size();
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

LanguageTable::LanguageTable(const std::wstring& base, const std::wstring& table)
    : m_name(UniqueName(L"L")), m_folder(base + L"Resource\\" + m_name + L"\\") {
    ::CreateDirectoryW((base + L"Resource").c_str(), nullptr);
    ::CreateDirectoryW(m_folder.c_str(), nullptr);
    const std::string bytes(reinterpret_cast<const char*>(table.data()), table.size() * sizeof(wchar_t));
    WriteText(m_folder + L"StringTable.ini", "\xFF\xFE" + bytes);
}

LanguageTable::~LanguageTable() { RemoveTree(m_folder); }

} // namespace KelTest
