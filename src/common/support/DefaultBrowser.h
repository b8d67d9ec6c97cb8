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

// Where each Windows version keeps the user's choice for web pages: the
// choice's Progid (7 and later, Vista), or the command that opens http (XP).
constexpr wchar_t QVBROWSER_KEY_URL_CHOICE[] =
    L"Software\\Microsoft\\Windows\\Shell\\Associations\\UrlAssociations\\http\\UserChoice";
constexpr wchar_t QVBROWSER_KEY_HTM_CHOICE[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\FileExts\\.htm\\UserChoice";
constexpr wchar_t QVBROWSER_VALUE_CHOICE[] = L"Progid";
constexpr wchar_t QVBROWSER_KEY_HTTP_COMMAND[] = L"http\\shell\\open\\command";

// Each browser's own entry and the value that holds its version.
constexpr wchar_t QVBROWSER_KEY_IE[] = L"Software\\Microsoft\\Internet Explorer";
constexpr wchar_t QVBROWSER_VALUE_IE_VERSION[] = L"Version";
constexpr wchar_t QVBROWSER_KEY_FIREFOX[] = L"Software\\Mozilla\\Mozilla Firefox";
constexpr wchar_t QVBROWSER_VALUE_FIREFOX_VERSION[] = L"CurrentVersion";
constexpr wchar_t QVBROWSER_KEY_CHROME[] = L"Software\\Google\\Update\\Clients\\{8A69D345-D564-463c-AFF1-A69D9E530F96}";
constexpr wchar_t QVBROWSER_VALUE_CHROME_VERSION[] = L"pv";

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
