// Pages opened for the rest of the product: in a browser frame, in the
// user's default browser, or in a tab of a browser whose add-on listens; the
// cards that belong to login pages; the main process of a browser.
#include "WorkspaceManager.h"

#include <shellapi.h>
#include <tlhelp32.h>
#include "DefaultBrowser.h"
#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvException.h"
#include "QvLog.h"
#include "WorkspaceText.h"

namespace {

bool IsNumber(const JsonValue& body, const char* key) {
    return body.is_object() && body.contains(key) && (body[key].is_number() || body[key].is_boolean());
}

// The browser-frame operations tell a missing key from a mistyped one.
bool CheckRequired(const JsonValue& body, const char* key, bool isString, const wchar_t* operation) {
    if (!body.is_object() || !body.contains(key)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s: Error! Some required parameters are missing...", operation);
        return false;
    }
    if (isString ? !body[key].is_string() : !IsNumber(body, key)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s: Error! The parameters are in wrong format...", operation);
        return false;
    }
    return true;
}

bool HasStrings(const JsonValue& body, std::initializer_list<const char*> keys, const wchar_t* operation) {
    for (const char* key : keys)
        if (!KelJson::HasString(body, key)) {
            QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%s - Invalid parameter.", operation);
            return false;
        }
    return true;
}

std::wstring TrimLastSlash(const std::wstring& url) {
    if (url.empty() || url.back() != L'/') return url;
    const std::wstring trimmed = url.substr(0, url.size() - 1);
    QVLOG(QVLOG_INFO, L"TrimLastSlash: String trimmed: %s", QvLogCallerText(trimmed).c_str());
    return trimmed;
}

// Browsers too old for the product's login are passed over.
bool DefaultBrowserUsable() {
    const std::wstring browser = KelCommon::GetDefaultBrowserName();
    if (browser == QVBROWSER_UNKNOWN) return false;
    const std::wstring version = KelCommon::GetBrowserVersion(browser);
    wchar_t* end = nullptr;
    const unsigned long major = wcstoul(version.c_str(), &end, 0);
    const size_t dot = version.find(L'.');
    const unsigned long minor = dot == std::wstring::npos ? 0 : wcstoul(version.c_str() + dot + 1, nullptr, 10);
    if (browser == QVBROWSER_IE) return major >= WORKSPACE_IE_MIN_MAJOR;
    if (browser == QVBROWSER_CHROME) return major >= WORKSPACE_CHROME_MIN_MAJOR;
    if (browser == QVBROWSER_FIREFOX)
        return major > WORKSPACE_FIREFOX_MIN_MAJOR ||
               (major == WORKSPACE_FIREFOX_MIN_MAJOR && minor >= WORKSPACE_FIREFOX_MIN_MINOR);
    return false;
}

} // namespace

uint32_t CWorkspaceManager::CreateBrowserFrame(const wchar_t* operation, const std::wstring& command, DWORD* frameId,
                                               bool autoNavigate) {
    HRESULT created = E_POINTER;
    if (m_frameManager) {
        const std::wstring cut = command.substr(0, FRAME_COMMAND_MAX_CHARS);
        QvCommon::UniqueBstr text(::SysAllocStringLen(cut.data(), static_cast<UINT>(cut.size())));
        if (!text) throw QvCommon::Exception::Result(E_OUTOFMEMORY);
        created = m_frameManager->CreateBrowserFrame(text.get(), frameId, autoNavigate ? TRUE : FALSE);
    }
    if (FAILED(created)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::%sCreateBrowserFrame() failed.[0x%08x]", operation, created);
        return PROVIDER_RESULT_FAILED;
    }
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::DoNavigate(JsonValue& body) {
    if (!CheckRequired(body, WORKSPACE_KEY_URL, true, L"DoNavigate")) return PROVIDER_RESULT_INVALID_PARAMETER;
    const bool autoNavigate = KelJson::HasBool(body, WORKSPACE_KEY_AUTO_NAVIGATE) && KelJson::GetBool(body, WORKSPACE_KEY_AUTO_NAVIGATE);
    DWORD frame = WORKSPACE_NO_FRAME;
    const uint32_t result =
        CreateBrowserFrame(L"DoNavigate", KelJson::GetString(body, WORKSPACE_KEY_URL), &frame, autoNavigate);
    body[WORKSPACE_KEY_FRAME_THREAD] = static_cast<unsigned>(frame);
    return result;
}

uint32_t CWorkspaceManager::DoRecord(JsonValue& body) {
    if (!CheckRequired(body, WORKSPACE_KEY_SITE_ID, false, L"DoRecord")) return PROVIDER_RESULT_INVALID_PARAMETER;
    const std::wstring location = KelJson::GetString(body, WORKSPACE_KEY_LOCATION);
    QVLOG(QVLOG_INFO, L"Location = %s", QvLogCallerText(location).c_str());
    QVLOG(QVLOG_INFO, L"Open secure browser by location for this special domain");
    return CreateBrowserFrame(L"DoRecord", location, nullptr, false);
}

uint32_t CWorkspaceManager::DoLogin(JsonValue& body) {
    if (!CheckRequired(body, WORKSPACE_KEY_RECORD_ID, true, L"DoLogin")) return PROVIDER_RESULT_INVALID_PARAMETER;
    const std::wstring command =
        FormatText(WORKSPACE_LOGIN_COMMAND, KelJson::GetString(body, WORKSPACE_KEY_RECORD_ID).c_str());
    return CreateBrowserFrame(L"DoLogin", command, nullptr, false);
}

void CWorkspaceManager::RememberLogin(const JsonValue& body) {
    const std::wstring url = KelJson::GetString(body, WORKSPACE_KEY_LOGIN_URL);
    const std::wstring card = KelJson::GetString(body, WORKSPACE_KEY_PASSCARD_ID);
    const std::wstring key = TrimLastSlash(url);
    QvCommon::Synchronize::AutoLock lock(m_urlLock);
    m_urlPasscardIdMap[key] = card;
    QVLOG(QVLOG_INFO, L"m_urlPasscardIdMap[\"%s\"] = \"%s\"", QvLogCallerText(url).c_str(), QvLogCallerText(card).c_str());
}

// The default browser when it can do the product's login, else Internet
// Explorer. What the shell makes of it is not the caller's concern.
void CWorkspaceManager::OpenInDefaultBrowser(const std::wstring& url) {
    if (DefaultBrowserUsable())
        ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    else
        ::ShellExecuteW(nullptr, L"open", WORKSPACE_FALLBACK_BROWSER, url.c_str(), nullptr, SW_SHOWNORMAL);
}

uint32_t CWorkspaceManager::DoLoginInDefaultBrowser(JsonValue& body) {
    if (!HasStrings(body, {WORKSPACE_KEY_PASSCARD_ID, WORKSPACE_KEY_LOGIN_URL}, L"DoLoginInDefaultBrowser"))
        return PROVIDER_RESULT_INVALID_PARAMETER;
    RememberLogin(body);
    OpenInDefaultBrowser(FormatText(L"\"%s\"", KelJson::GetString(body, WORKSPACE_KEY_LOGIN_URL).c_str()));
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::DoLoginInBrowserNewTab(JsonValue& body) {
    if (!HasStrings(body, {WORKSPACE_KEY_TAB_ID, WORKSPACE_KEY_PASSCARD_ID, WORKSPACE_KEY_LOGIN_URL}, L"DoLoginInBrowserNewTab"))
        return PROVIDER_RESULT_INVALID_PARAMETER;
    RememberLogin(body);
    if (m_controller)
        m_controller->BroadcastMessageToListeners(
            KEL_BROADCAST_LOGIN_IN_TAB, {{WORKSPACE_KEY_TAB_ID, body[WORKSPACE_KEY_TAB_ID]},
                                         {WORKSPACE_KEY_LOGIN_PAGE, body[WORKSPACE_KEY_LOGIN_URL]}});
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::DoOpenInDefaultBrowser(JsonValue& body) {
    if (!HasStrings(body, {WORKSPACE_KEY_OPEN_URL}, L"DoOpenInDefaultBrowser")) return PROVIDER_RESULT_INVALID_PARAMETER;
    const std::wstring url = KelJson::GetString(body, WORKSPACE_KEY_OPEN_URL);
    if (!url.empty()) OpenInDefaultBrowser(url);
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::DoOpenInBrowserNewTab(JsonValue& body) {
    if (!HasStrings(body, {WORKSPACE_KEY_TAB_ID, WORKSPACE_KEY_OPEN_URL}, L"DoOpenInBrowserNewTab"))
        return PROVIDER_RESULT_INVALID_PARAMETER;
    if (m_controller) m_controller->BroadcastMessageToListeners(KEL_BROADCAST_OPEN_IN_TAB, body);
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceManager::QueryPasscardIdByUrl(JsonValue& body) {
    if (!HasStrings(body, {WORKSPACE_KEY_URL}, L"QueryPasscardIdByUrl")) return PROVIDER_RESULT_INVALID_PARAMETER;
    QvCommon::Synchronize::AutoLock lock(m_urlLock);
    const auto found = m_urlPasscardIdMap.find(KelJson::GetString(body, WORKSPACE_KEY_URL));
    if (found == m_urlPasscardIdMap.end()) return PROVIDER_RESULT_OK;
    body[WORKSPACE_KEY_PASSCARD_ID] = KelJson::ToUtf8(found->second);
    m_urlPasscardIdMap.erase(found);
    return PROVIDER_RESULT_OK;
}

// A browser's tab processes are children of its main process; a browser the
// user started from the shell has the shell as its parent.
uint32_t CWorkspaceManager::GetParentPid(JsonValue& body) {
    if (!IsNumber(body, WORKSPACE_KEY_CURRENT_PID)) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::GetParentPid - Invalid parameter.");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    const DWORD pid = static_cast<DWORD>(body[WORKSPACE_KEY_CURRENT_PID].is_number_float()
                                             ? body[WORKSPACE_KEY_CURRENT_PID].get<double>()
                                             : KelJson::GetInt(body, WORKSPACE_KEY_CURRENT_PID));
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::GetParentPid: dwPid=%d", pid);
    QvCommon::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceManager::GetParentPid: CreateToolhelp32Snapshot() failed: %d", ::GetLastError());
        return PROVIDER_RESULT_FAILED;
    }
    std::map<DWORD, PROCESSENTRY32W> processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry))
        processes[entry.th32ProcessID] = entry;
    const auto self = processes.find(pid);
    const DWORD parent = self == processes.end() ? 0 : self->second.th32ParentProcessID;
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::GetParentPid: dwParentPid=%d", parent);
    const auto parentEntry = parent ? processes.find(parent) : processes.end();
    const bool own = parentEntry == processes.end() || _wcsicmp(parentEntry->second.szExeFile, WORKSPACE_SHELL_PARENT) == 0;
    const DWORD mainPid = own ? pid : parent;
    body[WORKSPACE_KEY_CURRENT_PID] = static_cast<unsigned>(mainPid);
    QVLOG(QVLOG_INFO, L"CWorkspaceManager::GetParentPid: szExeFile=%s, dwMainPid=%d",
          parentEntry == processes.end() ? L"" : parentEntry->second.szExeFile, mainPid);
    return PROVIDER_RESULT_OK;
}
