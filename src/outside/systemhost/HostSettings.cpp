#include "HostSettings.h"
#include "QvHandle.h"
#include "Storage.h"

#include <windows.h>

namespace {
const char* const KEY_SETUP_COMMAND = "SetupCommand";
const char* const KEY_ETD = "IsETDExistAndNotUpToDate";
const char* const KEY_DISPLAY_FLAG = "DisplayMainConsoleFlag";

bool ReadWholeFile(const std::wstring& path, std::string& content) {
    QvCommon::UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) content.append(chunk, read);
    return true;
}
} // namespace

bool LoadHostSettings(const std::wstring& file, HostSettings& settings, std::wstring& error) {
    std::string content;
    if (!ReadWholeFile(file, content)) {
        error = L"cannot read " + file + L" (error " + std::to_wstring(::GetLastError()) + L")";
        return false;
    }
    JsonValue json = JsonValue::parse(content, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = file + L" is not a JSON object";
        return false;
    }
    settings.setupCommand = KelJson::GetString(json, KEY_SETUP_COMMAND);
    settings.etdNeedsUpdate = KelJson::GetBool(json, KEY_ETD);
    settings.displayMainConsole = KelJson::GetBool(json, KEY_DISPLAY_FLAG);
    return true;
}

HostSettings ReadHostSettingsFromRegistry() {
    const DWORD view = Frwk::Utility::ProductRegistryView();
    HostSettings settings;
    settings.setupCommand = ReadRegString(HKEY_LOCAL_MACHINE, HOST_SETTINGS_KEY, L"SetupCommand", L"", view);
    settings.etdNeedsUpdate = ReadRegDword(HOST_SETTINGS_KEY, L"IsETDExistAndNotUpToDate", 0, view) != 0;
    settings.displayMainConsole = ReadRegDword(HOST_SETTINGS_KEY, L"DisplayMainConsoleFlag", 0, view) != 0;
    return settings;
}
