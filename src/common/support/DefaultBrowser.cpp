#include "DefaultBrowser.h"

#include "Process.h"
#include "QvLog.h"
#include "Storage.h"
#include "Version.h"

namespace {

// Where each Windows version keeps the user's choice for web pages.
struct Association { HKEY root; const wchar_t* key; const wchar_t* value; };
const Association URL_CHOICE = {HKEY_CURRENT_USER, QVBROWSER_KEY_URL_CHOICE, QVBROWSER_VALUE_CHOICE};
const Association HTM_CHOICE = {HKEY_CURRENT_USER, QVBROWSER_KEY_HTM_CHOICE, QVBROWSER_VALUE_CHOICE};
const Association HTTP_COMMAND = {HKEY_CLASSES_ROOT, QVBROWSER_KEY_HTTP_COMMAND, L""};

// The texts that name each browser in an association, in the order they are tried.
struct Marker { const wchar_t* first; const wchar_t* second; const wchar_t* browser; };
constexpr Marker MARKERS[] = {
    {L"iexplore.exe", L"ie.http", QVBROWSER_IE},
    {L"firefox.exe", L"firefoxurl", QVBROWSER_FIREFOX},
    {L"chrome.exe", L"chromehtml", QVBROWSER_CHROME},
};

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    return text;
}

std::wstring ReadAssociation() {
    const Association* where = QvCommon::Version::Check(QVVER_NT61_OR_LATER) ? &URL_CHOICE
                               : QvCommon::Version::Check(QVVER_NT6_OR_LATER) ? &HTM_CHOICE
                               : QvCommon::Version::Check(QVVER_XP_OR_LATER)  ? &HTTP_COMMAND
                                                                              : nullptr;
    return where ? ReadRegString(where->root, where->key, where->value, L"", QVREG_VIEW_DEFAULT) : std::wstring();
}

} // namespace

namespace Frwk {
namespace Utility {

std::wstring GetDefaultBrowserName() {
    std::wstring browser = QVBROWSER_UNKNOWN;
    const std::wstring association = AsciiLower(ReadAssociation());
    if (!association.empty())
        for (const Marker& marker : MARKERS)
            if (association.find(marker.first) != std::wstring::npos ||
                association.find(marker.second) != std::wstring::npos) {
                browser = marker.browser;
                break;
            }
    QVLOG(QVLOG_INFO, L"GetDefaultBrowserName: %s", browser.c_str());
    return browser;
}

std::wstring GetBrowserVersion(DWORD kind) {
    switch (kind) {
    case QVBROWSER_KIND_IE: {
        DWORD error = 0;
        const bool wow64 = QvCommon::Process::IsWow64ModeProcess(&error);
        if (error != 0) QVLOG(QVLOG_ERROR, L"QvCommon::Process::IsWow64ModeProcess() failed: 0x%08X", error);
        return ReadRegString(HKEY_LOCAL_MACHINE, QVBROWSER_KEY_IE, QVBROWSER_VALUE_IE_VERSION, L"",
                             wow64 ? QVREG_VIEW_64 : QVREG_VIEW_DEFAULT);
    }
    case QVBROWSER_KIND_FIREFOX:
        return ReadRegString(HKEY_LOCAL_MACHINE, QVBROWSER_KEY_FIREFOX, QVBROWSER_VALUE_FIREFOX_VERSION, L"",
                             QVREG_VIEW_32);
    case QVBROWSER_KIND_CHROME: {
        // Installed for the user, or else for the whole machine.
        auto read = [](HKEY root) {
            return ReadRegString(root, QVBROWSER_KEY_CHROME, QVBROWSER_VALUE_CHROME_VERSION, L"", QVREG_VIEW_32);
        };
        const std::wstring user = read(HKEY_CURRENT_USER);
        return !user.empty() ? user : read(HKEY_LOCAL_MACHINE);
    }
    default:
        return std::wstring();
    }
}

} // namespace Utility
} // namespace Frwk

namespace KelCommon {

std::wstring GetDefaultBrowserName() { return Frwk::Utility::GetDefaultBrowserName(); }

std::wstring GetBrowserVersion(const std::wstring& executableName) {
    const DWORD kind = executableName == QVBROWSER_IE        ? QVBROWSER_KIND_IE
                       : executableName == QVBROWSER_FIREFOX ? QVBROWSER_KIND_FIREFOX
                       : executableName == QVBROWSER_CHROME  ? QVBROWSER_KIND_CHROME
                                                             : 0;
    return kind ? Frwk::Utility::GetBrowserVersion(kind) : std::wstring();
}

} // namespace KelCommon
