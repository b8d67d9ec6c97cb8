#include "Storage.h"

#include <vector>

namespace QvCommon {
namespace Storage {
namespace {

const char* const SOURCE = "QvComn_IniFile";
constexpr DWORD INI_BUFFER_STEP = 256;

[[noreturn]] void Raise(DWORD code, DWORD line) { throw new Exception(code, SOURCE, line); }

} // namespace

void IniFile::OpenForRead(const Key& location, const std::wstring& subkey) {
    std::wstring file = location.GetFolder();
    if (!file.empty() && file.back() != L'\\') file += L'\\';
    if (location.GetPath().empty() || subkey.empty()) Raise(QVSTORAGE_ERROR_NO_LOCATION, __LINE__);
    m_file = file + location.GetPath();
    m_section = subkey;
}

// An INI file is created by its first write.
void IniFile::OpenForWrite(const Key& location, const std::wstring& subkey) {
    OpenForRead(location, subkey);
}

void IniFile::Close(bool flush) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    if (flush) Flush();
    m_file.clear();
    m_section.clear();
}

void IniFile::Flush() {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    ::WritePrivateProfileStringW(nullptr, nullptr, nullptr, m_file.c_str());
}

std::wstring IniFile::ReadString(const std::wstring& name, const std::wstring& defaultValue) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    std::vector<wchar_t> buffer;
    for (DWORD size = INI_BUFFER_STEP;; size += INI_BUFFER_STEP) {
        buffer.assign(size, L'\0');
        DWORD copied = ::GetPrivateProfileStringW(m_section.c_str(), name.c_str(),
                                                  defaultValue.c_str(), buffer.data(), size,
                                                  m_file.c_str());
        // size - 1 copied means the text was cut to fit.
        if (copied + 1 < size) return std::wstring(buffer.data(), copied);
    }
}

DWORD IniFile::ReadDword(const std::wstring& name, DWORD defaultValue) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    return ::GetPrivateProfileIntW(m_section.c_str(), name.c_str(), static_cast<INT>(defaultValue),
                                   m_file.c_str());
}

void IniFile::WriteString(const std::wstring& name, const std::wstring& value) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    if (!::WritePrivateProfileStringW(m_section.c_str(), name.c_str(), value.c_str(), m_file.c_str()))
        Raise(::GetLastError(), __LINE__);
}

void IniFile::WriteDword(const std::wstring& name, DWORD value) {
    WriteString(name, std::to_wstring(value));
}

void IniFile::DeleteOpenKey() {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    if (!::WritePrivateProfileStringW(m_section.c_str(), nullptr, nullptr, m_file.c_str()))
        Raise(::GetLastError(), __LINE__);
}

// Sections of an INI file have no subsections.
void IniFile::DeleteSubKey(const std::wstring&) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    Raise(ERROR_NOT_SUPPORTED, __LINE__);
}

void IniFile::DeleteValue(const std::wstring& name) {
    if (m_file.empty()) Raise(QVSTORAGE_ERROR_NOT_OPEN, __LINE__);
    if (!::WritePrivateProfileStringW(m_section.c_str(), name.c_str(), nullptr, m_file.c_str()))
        Raise(::GetLastError(), __LINE__);
}

} // namespace Storage
} // namespace QvCommon
