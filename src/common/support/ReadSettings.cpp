#include "Process.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "Storage.h"

#include <memory>

using QvCommon::Storage::Exception;
using QvCommon::Storage::Key;
using QvCommon::Storage::Registry;

DWORD ReadRegDword(const std::wstring& path, const std::wstring& name, DWORD defaultValue,
                   DWORD view) {
    Registry storage(view);
    try {
        storage.OpenForRead(Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, path), L"");
        DWORD value = storage.ReadDword(name);
        storage.Close(false);
        return value;
    } catch (Exception* e) {
        delete e;
        return defaultValue;
    }
}

std::wstring ReadRegString(HKEY root, const std::wstring& path, const std::wstring& name,
                           const std::wstring& defaultValue, DWORD view, DWORD* error) {
    Registry storage(view);
    try {
        storage.OpenForRead(Key(QVSTORAGE_REGISTRY, root, path), L"");
        std::wstring value = storage.ReadString(name, defaultValue);
        storage.Close(false);
        if (error) *error = 0;
        return value;
    } catch (Exception* e) {
        if (error) *error = e->GetCode();
        delete e;
        return defaultValue;
    }
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
