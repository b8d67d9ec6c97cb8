#include "Process.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "Storage.h"

using QvCommon::Storage::Exception;
using QvCommon::Storage::Key;
using QvCommon::Storage::Registry;

namespace {

// Opens the key read-only, reads one value and closes; any storage exception
// gives the default, its code going to the optional error word.
template <typename T, typename Read>
T ReadOneValue(HKEY root, const std::wstring& path, DWORD view, const T& defaultValue, DWORD* error,
               Read read) {
    Registry storage(view);
    try {
        storage.OpenForRead(Key(QVSTORAGE_REGISTRY, root, path), L"");
        T value = read(storage);
        storage.Close(false);
        if (error) *error = 0;
        return value;
    } catch (Exception* e) {
        if (error) *error = e->GetCode();
        delete e;
        return defaultValue;
    }
}

} // namespace

DWORD ReadRegDword(const std::wstring& path, const std::wstring& name, DWORD defaultValue,
                   DWORD view) {
    return ReadOneValue(HKEY_LOCAL_MACHINE, path, view, defaultValue, nullptr,
                        [&](Registry& storage) { return storage.ReadDword(name); });
}

std::wstring ReadRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                           const std::wstring& defaultValue, DWORD view, DWORD* error) {
    return ReadOneValue(root, path, view, defaultValue, error,
                        [&](Registry& storage) { return storage.ReadString(name, defaultValue); });
}

namespace Frwk {
namespace Utility {

DWORD ProductRegistryView() {
    DWORD error = 0;
    bool wow64 = QvCommon::Process::IsWow64ModeProcess(&error);
    if (error != 0) {
        QVLOG(QVLOG_ERROR, L"QvCommon::Process::IsWow64ModeProcess() failed: 0x%08X", error);
        return QVREG_VIEW_DEFAULT;
    }
    return wow64 ? QVREG_VIEW_64 : QVREG_VIEW_DEFAULT;
}

std::wstring GetStrFromHKLM_NORDAL(const std::wstring& name, const std::wstring& defaultValue) {
    QVLOG(QVLOG_TRACE, L"[Enter] Frwk::Utility::GetStrFromHKLM_NORDAL()...");
    std::wstring value = ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, name, defaultValue,
                                       ProductRegistryView());
    QVLOG(QVLOG_TRACE, L"[Leave] Frwk::Utility::GetStrFromHKLM_NORDAL()...");
    return value;
}

} // namespace Utility
} // namespace Frwk
