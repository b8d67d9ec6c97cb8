#include "L10nReader.h"

#include <windows.h>
#include <memory>
#include <new>
#include "Folders.h"
#include "QvLog.h"
#include "Storage.h"

namespace {

std::wstring WithBackslash(const std::wstring& path) {
    return path.empty() || path.back() == L'\\' ? path : path + L'\\';
}

} // namespace

bool CL10nReader::ParseL10nFile(const std::wstring& languageName, const std::wstring& additionalSection) {
    QVLOG(QVLOG_TRACE, L"[Enter] CL10nReader::ParseL10nFile... _tsLangName[%s]", languageName.c_str());
    const std::wstring base = additionalSection == L10N_ADDON_SECTION ? Frwk::Utility::GetInstalledFolder()
                                                                      : GetModuleFolder();
    const std::wstring path = WithBackslash(WithBackslash(base) + L10N_RESOURCE_FOLDER + L'\\' + languageName) +
                              L10N_FILE_NAME;
    DWORD error = 0;
    if (!QvCommon::Storage::File::IsExisted(path, &error)) {
        QVLOG(QVLOG_ERROR, L"CL10nReader::ParseL10nFile - QvCommon::Storage::File::IsExisted(%s) failed. error[0x%08x]",
              path.c_str(), error);
        return false;
    }
    bool result = true;
    if (!QueryIniValue(path, L10N_GLOBAL_SECTION)) {
        QVLOG(QVLOG_ERROR, L"CL10nReader::ParseL10nFile - QueryIniValue() for Global section failed");
        result = false;
    }
    if (!additionalSection.empty() && !QueryIniValue(path, additionalSection)) {
        QVLOG(QVLOG_ERROR, L"CL10nReader::ParseL10nFile - QueryIniValue() failed. _tsAdditionalSection[%s]",
              additionalSection.c_str());
        result = false;
    }
    QVLOG(QVLOG_TRACE, L"[Leave] CL10nReader::ParseL10nFile...");
    return result;
}

bool CL10nReader::QueryIniValue(const std::wstring& filePath, const std::wstring& section) {
    for (unsigned size = L10N_BUFFER_STEP;; size += L10N_BUFFER_STEP) {
        std::unique_ptr<wchar_t[]> buffer(new (std::nothrow) wchar_t[size]());
        if (!buffer) {
            QVLOG(QVLOG_ERROR, L"CL10nReader::QueryIniValue - Allocate %u bytes buffer failed.",
                  static_cast<unsigned>(size * sizeof(wchar_t)));
            return false;
        }
        const DWORD read = ::GetPrivateProfileSectionW(section.c_str(), buffer.get(), size, filePath.c_str());
        if (read == 0) {
            QVLOG(QVLOG_ERROR, L"CL10nReader::QueryIniValue - GetPrivateProfileSection() failed. error[0x%08x]",
                  ::GetLastError());
            return false;
        }
        if (read == size - 2) {   // cut off: the section did not fit
            if (size + L10N_BUFFER_STEP > L10N_BUFFER_LIMIT) {
                QVLOG(QVLOG_ERROR, L"CL10nReader::QueryIniValue - nCountOfString could not larger than SHRT_MAX.");
                return false;
            }
            continue;
        }
        for (const wchar_t* line = buffer.get(); *line; line += wcslen(line) + 1) AddLine(line);
        return true;
    }
}

// "key=value"; in "a==b" the run of "=" belongs to the key but its last one,
// so the key is "a=". A line without "=" or with nothing after it is skipped.
void CL10nReader::AddLine(const wchar_t* line) {
    const wchar_t* firstEquals = wcschr(line, L'=');
    if (!firstEquals) return;
    const wchar_t* value = firstEquals;
    while (*value == L'=') ++value;
    if (!*value) return;
    m_strings.emplace(std::wstring(line, value - 1), std::wstring(value));
}

const wchar_t* CL10nReader::GetString(const std::wstring& key) const {
    const auto found = m_strings.find(key);
    if (found == m_strings.end()) {
        QVLOG(QVLOG_INFO, L"CL10nReader::GetString - String not found[%s]", key.c_str());
        return nullptr;
    }
    return found->second.c_str();
}
