#pragma once
// The answers of the product's service. They come from a JSON file given on
// the command line, or else from HKLM "Software\Quorvane\NORDAL\SystemProviderHost"
// (64-bit view under WOW64):
//   "SetupCommand"              string, default empty: the setup the agent must run first
//   "IsETDExistAndNotUpToDate"  bool/DWORD, default false: the keyboard driver needs an update
//   "DisplayMainConsoleFlag"    bool/DWORD, default false: the console should show itself once
#include <string>
#include "JsonBody.h"

#define HOST_SETTINGS_KEY L"Software\\Quorvane\\NORDAL\\SystemProviderHost"

struct HostSettings {
    std::wstring setupCommand;
    bool etdNeedsUpdate = false;
    bool displayMainConsole = false;
};

// False with a message when the file cannot be read or is not a JSON object.
bool LoadHostSettings(const std::wstring& file, HostSettings& settings, std::wstring& error);
HostSettings ReadHostSettingsFromRegistry();
