// The memory watchdog: the agent restarts itself when its working set grew
// beyond the configured size, at a moment when none of its windows is shown
// and once the PIN provider has saved what a restart would lose.
#include "KelConsoleThreadManager.h"

#include <psapi.h>
#include "ProductKeys.h"
#include "ProviderInterfaces.h"
#include "ProviderMessages.h"
#include "QvLog.h"
#include "SecurityAttributes.h"
#include "Storage.h"

namespace {
constexpr int PIN_STATE_KEY_NOT_BACKED_UP = 2;

bool s_checkedOnce = false;
DWORD s_lastCheck = 0;
DWORD s_interval = KEL_MEMORY_CHECK_INTERVAL_MS;

void LogCountFailure(uint32_t result, HRESULT hr) {
    QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::SeriousMemoryLeak: Get activated window number failed, "
                       L"res=[0x%08x] hr=[0x%08x]", result, hr);
}
} // namespace

bool CKelConsoleThreadManager::SeriousMemoryLeak(IProviderController* controller, FrameManager* frameManager) {
    const DWORD now = ::GetTickCount();
    if (!s_checkedOnce) {
        s_checkedOnce = true;
        s_lastCheck = now;
        s_interval = ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_MEMORY_CHECK_INTERVAL, KEL_MEMORY_CHECK_INTERVAL_MS,
                                  QVREG_VIEW_DEFAULT);
        if (s_interval == 0) s_interval = KEL_MEMORY_CHECK_INTERVAL_MS;   // not a check at every wake-up
    }
    // Compared as unsigned 32-bit numbers, also when the tick count wraps.
    if (s_lastCheck + s_interval > now) return false;
    s_lastCheck = now;
    const DWORD thresholdMB = ReadRegDword(QV_PRODUCT_KEY, QV_VALUE_WORKING_SET_MB, KEL_DEFAULT_WORKING_SET_MB,
                                           QVREG_VIEW_DEFAULT);
    if (thresholdMB == 0 || !controller || !frameManager) return false;

    JsonValue shown;
    const uint32_t result =
        controller->SendMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT, shown);
    if (IsProviderFailure(result)) {
        LogCountFailure(result, 0);
        return false;
    }
    LONG popupFrames = 0;
    const HRESULT hr = frameManager->GetPopupCount(&popupFrames);
    if (FAILED(hr)) {
        LogCountFailure(result, hr);
        return false;
    }
    const int uiCount = static_cast<int>(KelJson::GetInt(shown, "ActivatedUiCnt"));
    const int popupThreads = static_cast<int>(PopupThreadList().size());
    QVLOG(QVLOG_TRACE, L"CKelConsoleThreadManager::SeriousMemoryLeak: uiCnt=%d uiPopupCnt=%d dwSBNum=%d dwThreMB=%d",
          uiCount, popupThreads, static_cast<int>(popupFrames), static_cast<int>(thresholdMB));
    if (uiCount != 0 || popupThreads != 0 || popupFrames != 0) return false;

    QVLOG(QVLOG_TRACE, L"CKelConsoleThreadManager::SeriousMemoryLeak: Start memory info check");
    QvCommon::UniqueHandle self(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                              ::GetCurrentProcessId()));
    if (!self) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::SeriousMemoryLeak: OpenProcess() failed!");
        return false;
    }
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!::GetProcessMemoryInfo(self.get(), &counters, sizeof(counters))) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::SeriousMemoryLeak: GetProcessMemoryInfo() failed!");
        return false;
    }
    if (!WorkingSetAbove(counters.WorkingSetSize, thresholdMB)) return false;
    QVLOG(QVLOG_TRACE, L"CKelConsoleThreadManager::SeriousMemoryLeak: dwCurMB>dwThreMB");

    JsonValue pin{{"PinState", 0u}};
    uint32_t pinResult = controller->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, pin);
    if (IsProviderFailure(pinResult)) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::SeriousMemoryLeak: Get pin status failed [0x%08x]", pinResult);
        return false;
    }
    if (KelJson::GetInt(pin, "PinState") == PIN_STATE_KEY_NOT_BACKED_UP) {
        pinResult = controller->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_BACKUP_GOLDEN_KEY, pin);
        if (IsProviderFailure(pinResult)) {
            QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::SeriousMemoryLeak: Backup golden key failed! [0x%08x]",
                  pinResult);
            return false;
        }
    }
    return true;
}

void RestartAgent() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    std::wstring folder(path, length);
    folder.erase(folder.rfind(L'\\') + 1);
    std::wstring command = folder + KEL_RESTART_COMMAND;
    QvCommon::AccessControl::SecurityAttributes security(QVSEC_KIND_PROCESS, QVSEC_INTEGRITY_NONE, false);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.wShowWindow = SW_SHOW;   // without STARTF_USESHOWWINDOW: not applied
    PROCESS_INFORMATION info = {};
    if (::CreateProcessW(nullptr, &command[0], security.Get(), nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                         nullptr, &startup, &info)) {
        QvCommon::UniqueHandle process(info.hProcess), thread(info.hThread);
    }
}
