#pragma once
// Which of the three supported browsers is the user's default, from the
// user's URL association, and which version of a browser is installed, from
// the browser's own registry entry. Nothing here fails: "unknown" and an
// empty version are answers.
#include <windows.h>
#include <string>

constexpr wchar_t QVBROWSER_IE[] = L"iexplore.exe";
constexpr wchar_t QVBROWSER_FIREFOX[] = L"firefox.exe";
constexpr wchar_t QVBROWSER_CHROME[] = L"chrome.exe";
constexpr wchar_t QVBROWSER_UNKNOWN[] = L"unknown";

// Browser kinds of GetBrowserVersion.
constexpr DWORD QVBROWSER_KIND_IE = 1;
constexpr DWORD QVBROWSER_KIND_FIREFOX = 2;
constexpr DWORD QVBROWSER_KIND_CHROME = 3;

namespace Frwk {
namespace Utility {
// "iexplore.exe", "firefox.exe", "chrome.exe" or "unknown".
std::wstring GetDefaultBrowserName();
// The version text its installer stored; empty when none is found.
std::wstring GetBrowserVersion(DWORD kind);
} // namespace Utility
} // namespace Frwk

namespace KelCommon {
std::wstring GetDefaultBrowserName();
// By executable name, compared exactly; other names give an empty text.
std::wstring GetBrowserVersion(const std::wstring& executableName);
} // namespace KelCommon
