#pragma once
// Where the product is installed, which language it is set to, where the
// agent's executable, the user's desktop and documents folders and the crash
// dumps lie, and folder creation on demand. Nothing is cached: every call
// reads again. None of these throws; failures give the defaults, an empty
// folder or false.
#include <windows.h>
#include <string>

namespace Frwk {
namespace Utility {

// "ProductPath" of the product key, as stored (no "\" is added); empty when
// it cannot be read.
std::wstring GetInstalledFolder();

// "Language" of the product key. The error word is 0 on success and 1 when the
// value could not be read; "EN-US" is returned then.
std::wstring GetLanguage(DWORD* error = nullptr);

// "LogFolder" of the debug-log subkey of this process's session kind, created
// when missing. Returned as stored even when the creation failed.
std::wstring GetDumpFolder();

// Creates the folder and its missing parents. alreadyExisted tells that the
// folder was there before and nothing was created. On failure the reason is
// left as the last error.
bool CreateSpecifiedFolder(const std::wstring& folder, bool& alreadyExisted);

} // namespace Utility
} // namespace Frwk

namespace KelCommon {

// The product's language, or the installer's culture name when no language is
// set (possibly empty; never "EN-US" by default).
std::wstring GetProductLanguage();

// "InstallLangCultureName" of the product key; empty when missing.
std::wstring GetInstallLangCultureName();

} // namespace KelCommon

namespace QvCommon {
namespace Storage {
namespace File {

// Creates every folder along the path after its first component (the drive),
// each with the given security (null: the default). Components that already
// exist are passed over. A path with fewer than two "\" is refused with 160.
// Returns 0 or the error that stopped the walk.
DWORD CreateFolderPath(const std::wstring& path, SECURITY_ATTRIBUTES* security);

} // namespace File
} // namespace Storage
} // namespace QvCommon

// Folder of the process's executable, ending in "\"; empty on failure.
std::wstring GetModuleFolder();

// The user's desktop and documents folders, ending in "\"; empty when the
// shell cannot tell them. The folders are not created.
std::wstring GetUserDesktopPath();
std::wstring GetUserDocumentsPath();
