#include "Folders.h"
#include "Process.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "SecurityAttributes.h"
#include "Storage.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>

using QvCommon::Storage::Exception;
using QvCommon::Storage::Key;
using QvCommon::Storage::Registry;

namespace {

constexpr DWORD MODULE_PATH_CHARS = 259;
constexpr size_t MODULE_DRIVE_CHARS = 3;
constexpr size_t MODULE_DIR_CHARS = 256;

enum class ReadOutcome { Read, NoStorage, Failed };

struct ProductValue {
    std::wstring text;
    ReadOutcome outcome = ReadOutcome::Read;
    DWORD code = 0;
};

// One string of the product key, in the 64-bit view under WOW64. Each caller
// logs a failure in its own words, so the outcome comes back instead.
ProductValue ReadProductString(const wchar_t* name) {
    ProductValue result;
    const DWORD view = Frwk::Utility::ProductRegistryView();
    std::unique_ptr<Registry> storage(new (std::nothrow) Registry(view));
    if (!storage) {
        result.outcome = ReadOutcome::NoStorage;
        return result;
    }
    try {
        storage->OpenForRead(Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY), L"");
        result.text = storage->ReadString(name, L"");
        storage->Close(false);
    } catch (Exception* e) {
        result.outcome = ReadOutcome::Failed;
        result.code = e->GetCode();
        result.text.clear();
        delete e;
    }
    return result;
}

// Logs why a product value could not be read, in the operation's own words.
void LogReadFailure(const ProductValue& value, const wchar_t* operation) {
    if (value.outcome == ReadOutcome::NoStorage)
        QVLOG(QVLOG_ERROR, L"*** %s -  pStorage was invalid.", operation);
    else if (value.outcome == ReadOutcome::Failed)
        QVLOG(QVLOG_ERROR, L"*** %s -  Got QvCommon::Storage::Exception(). [0x%08x]", operation,
              value.code);
}

// The debug-log subkey of the session kind this process runs in.
const wchar_t* DumpFolderKey() {
    const QvCommon::Process::SessionKind kind = QvCommon::Process::DetectSessionKind();
    if (kind.service) return QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_SERVICE;
    if (kind.protectedSession) return QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_PROTECTED;
    return QV_DEBUGLOG_KEY L"\\" QV_DEBUGLOG_INTERACTIVE;
}

// A shell folder with "\" appended; empty with the error set on failure.
std::wstring ShellFolder(int csidl, DWORD& error) {
    wchar_t path[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) {
        error = ::GetLastError();
        return std::wstring();
    }
    error = 0;
    std::wstring folder(path);
    if (folder.empty() || folder.back() != L'\\') folder += L'\\';
    return folder;
}

} // namespace

namespace Frwk {
namespace Utility {

std::wstring GetInstalledFolder() {
    ProductValue value = ReadProductString(QV_VALUE_PRODUCT_PATH);
    LogReadFailure(value, L"Frwk::Utility::GetInstalledFolder()");
    return value.text;
}

std::wstring GetLanguage(DWORD* error) {
    if (error) *error = 0;
    ProductValue value = ReadProductString(QV_VALUE_LANGUAGE);
    if (value.outcome == ReadOutcome::Read) return value.text;
    LogReadFailure(value, L"Frwk::Utility::GetLanguage()");
    if (error) *error = 1;
    return QV_DEFAULT_LANGUAGE;
}

std::wstring GetDumpFolder() {
    std::wstring folder = ReadRegString(HKEY_LOCAL_MACHINE, DumpFolderKey(), QV_VALUE_LOG_FOLDER,
                                        L"", QVREG_VIEW_64);
    if (folder.empty()) {
        QVLOG(QVLOG_ERROR, L"Frwk::Utility::GetDumpFolder() - tsFolder is empty.");
        return folder;
    }
    bool existed = false;
    if (!CreateSpecifiedFolder(folder, existed)) {
        QVLOG(QVLOG_ERROR,
              L"Frwk::Utility::GetDumpFolder() - Frwk::Utility::CreateSpecifiedFolder(%s) was failed.",
              folder.c_str());
    }
    return folder;
}

bool CreateSpecifiedFolder(const std::wstring& folder, bool& alreadyExisted) {
    alreadyExisted = false;
    if (folder.empty()) {
        QVLOG(QVLOG_ERROR, L"Frwk::Utility::CreateSpecifiedFolder() - Specified length was invalid.");
        ::SetLastError(ERROR_BAD_ARGUMENTS);
        return false;
    }
    if (::GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        alreadyExisted = true;
        return true;
    }
    QvCommon::AccessControl::SecurityAttributes security(QVSEC_KIND_DEFAULT, QVSEC_INTEGRITY_NONE,
                                                         false);
    DWORD error = QvCommon::Storage::File::CreateFolderPath(folder, security.Get());
    if (error != 0) {
        QVLOG(QVLOG_ERROR,
              L"Frwk::Utility::CreateSpecifiedFolder() - QvCommon::Storage::File::CreateDirectory() was failed. [0x%08x]",
              error);
        ::SetLastError(error);
        return false;
    }
    return true;
}

} // namespace Utility
} // namespace Frwk

namespace KelCommon {

std::wstring GetProductLanguage() {
    DWORD error = 0;
    std::wstring language = Frwk::Utility::GetLanguage(&error);
    if (error == 0) return language;
    return GetInstallLangCultureName();
}

std::wstring GetInstallLangCultureName() {
    std::wstring culture = Frwk::Utility::GetStrFromHKLM_NORDAL(QV_VALUE_INSTALL_CULTURE, L"");
    QVLOG(QVLOG_INFO, L"Frwk::Utility::GetStrFromHKLM_NORDAL() returns '%s'", culture.c_str());
    return culture;
}

} // namespace KelCommon

namespace QvCommon {
namespace Storage {
namespace File {

DWORD CreateFolderPath(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
    if (std::count(path.begin(), path.end(), L'\\') < 2) return ERROR_BAD_ARGUMENTS;
    // Each "\" after the drive ends a folder to create; so does the end of a
    // path that has no trailing "\". Empty components ("\\") are passed over.
    size_t start = path.find(L'\\') + 1;
    while (start < path.size()) {
        size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        if (end > start) {
            const std::wstring folder = path.substr(0, end);
            if (!::CreateDirectoryW(folder.c_str(), security)) {
                DWORD error = ::GetLastError();
                if (error != ERROR_ALREADY_EXISTS) return error;
            }
        }
        start = end + 1;
    }
    return 0;
}

} // namespace File
} // namespace Storage
} // namespace QvCommon

std::wstring GetModuleFolder() {
    wchar_t path[MODULE_PATH_CHARS] = {};
    if (::GetModuleFileNameW(nullptr, path, MODULE_PATH_CHARS) == 0) return std::wstring();
    wchar_t drive[MODULE_DRIVE_CHARS] = {};
    wchar_t directory[MODULE_DIR_CHARS] = {};
    if (_wsplitpath_s(path, drive, MODULE_DRIVE_CHARS, directory, MODULE_DIR_CHARS, nullptr, 0,
                      nullptr, 0) != 0) {
        return std::wstring();
    }
    // The directory part keeps its trailing "\", so the folder ends in one.
    return std::wstring(drive) + directory;
}

std::wstring GetUserDesktopPath() {
    DWORD error = 0;
    std::wstring folder = ShellFolder(CSIDL_DESKTOPDIRECTORY, error);
    if (folder.empty()) {
        QVLOG(QVLOG_ERROR, L"***GetUserDesktopPath() - ::SHGetSpecialFolderPathW() was failed. [0x%08x]",
              error);
    }
    return folder;
}

std::wstring GetUserDocumentsPath() {
    DWORD error = 0;
    std::wstring folder = ShellFolder(CSIDL_PERSONAL, error);
    if (folder.empty()) {
        QVLOG(QVLOG_ERROR,
              L"***GetUserDocumentsPath() - ::SHGetSpecialFolderPathW() was failed. [0x%08x]", error);
    }
    return folder;
}
