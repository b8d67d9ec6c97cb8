#include "WorkspaceProvider.h"

#include <new>
#include "ProviderMessages.h"
#include "QvException.h"
#include "QvLog.h"

CWorkspaceProvider::CWorkspaceProvider(IProviderController* controller, FrameManager* frameManager, HANDLE exitEvent)
    : IFunctionProvider(controller), m_exitEvent(exitEvent) {
    m_classId = KEL_PROVIDER_WORKSPACE;
    // The manager takes its own reference on the frame manager.
    if (frameManager) frameManager->AddRef();
    QvCommon::UniqueCom<FrameManager> held(frameManager);
    try {
        m_manager.reset(new CWorkspaceManager(controller, frameManager));
    } catch (const std::bad_alloc&) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceProvider::CWorkspaceProvider: Out of memory.");
    }
}

CWorkspaceProvider::~CWorkspaceProvider() = default;

uint32_t CWorkspaceProvider::PostInitialize() {
    if (!m_manager) throw QvCommon::Exception::Result(E_FAIL);
    return PROVIDER_RESULT_OK;
}

uint32_t CWorkspaceProvider::MessageProc(uint32_t messageId, JsonValue& body) {
    if (!m_manager) throw QvCommon::Exception::Result(E_FAIL);
    if (messageId < KEL_PROVIDER_WORKSPACE_MSG_FIRST || messageId > KEL_PROVIDER_WORKSPACE_MSG_LAST)
        return PROVIDER_RESULT_NOT_SUPPORTED;
    // The exit message reads nothing from its body: whatever it carries, the agent ends.
    if (messageId == KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM) {
        if (m_exitEvent) {
            QVLOG(QVLOG_INFO, L"CWorkspaceProvider::MessageProc: Received KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM.");
            ::SetEvent(m_exitEvent);
        }
        return PROVIDER_RESULT_OK;
    }
    // The ids between the exit message and the warning name no message.
    if (messageId > KEL_PROVIDER_WORKSPACE_MSG_EXIT_PROGRAM && messageId < KEL_PROVIDER_WORKSPACE_MSG_SHOW_SUSPICIOUS_WARNING)
        return PROVIDER_RESULT_NOT_SUPPORTED;
    // A message always comes with a body: the wire carries one in every
    // record, and a message without arguments carries null (as the agent's own
    // posts and kelctl's do). So there is no absent body to refuse here; null
    // becomes the object the operations answer into, and only a body of
    // another kind is one the workspace cannot read.
    if (body.is_null()) body = JsonValue::object();
    if (!body.is_object()) {
        QVLOG(QVLOG_ERROR, L"CWorkspaceProvider::MessageProc: Invalid parameter...");
        return PROVIDER_RESULT_INVALID_PARAMETER;
    }
    CWorkspaceManager& manager = *m_manager;
    switch (messageId) {
    case KEL_PROVIDER_WORKSPACE_MSG_DO_RECORD: return manager.DoRecord(body);
    case KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN: return manager.DoLogin(body);
    case KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_DEFAULT_BROWSER: return manager.DoLoginInDefaultBrowser(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_HIDDEN_BALLOON: return manager.ShowHiddenBalloon(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON: return manager.ShowBalloon(body);
    case KEL_PROVIDER_WORKSPACE_MSG_HIDE_BALLOON: return manager.HideBalloon(body);
    case KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON: return manager.CloseBalloon(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI: return manager.ShowConsoleUI(body);
    case KEL_PROVIDER_WORKSPACE_MSG_HIDE_CONSOLE_UI:
        return manager.GetConsoleUiThreadId() == WORKSPACE_NO_FRAME ? PROVIDER_RESULT_OK : manager.HideConsoleUI();
    case KEL_PROVIDER_WORKSPACE_MSG_DEACTIVATE_CONSOLE_UI:
        return manager.GetConsoleUiThreadId() == WORKSPACE_NO_FRAME ? PROVIDER_RESULT_OK : manager.DeactivateConsoleUI();
    case KEL_PROVIDER_WORKSPACE_MSG_DO_LOGIN_IN_BROWSER_NEW_TAB: return manager.DoLoginInBrowserNewTab(body);
    case KEL_PROVIDER_WORKSPACE_MSG_CLEANUP_BROWSER_MAP: return manager.CleanupBrowserMap(body);
    case KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_BROWSER_NEW_TAB: return manager.DoOpenInBrowserNewTab(body);
    case KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS: return manager.GetBalloonStatus(body);
    case KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON: return manager.MoveBalloon(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_POPUP_WINDOW: return manager.ShowPopupWindow(body);
    case KEL_PROVIDER_WORKSPACE_MSG_QUERY_PASSCARD_ID_BY_URL: return manager.QueryPasscardIdByUrl(body);
    case KEL_PROVIDER_WORKSPACE_MSG_COPY_DATA_TO_CLIPBOARD: return manager.CopyDataToClipboard(body);
    case KEL_PROVIDER_WORKSPACE_MSG_DO_NAVIGATE: return manager.DoNavigate(body);
    case KEL_PROVIDER_WORKSPACE_MSG_GET_SPECIAL_PATH: return manager.GetSpecialPath(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_MINI_BROWSER: return manager.ShowMiniBrowser(body);
    case KEL_PROVIDER_WORKSPACE_MSG_DO_OPEN_IN_DEFAULT_BROWSER: return manager.DoOpenInDefaultBrowser(body);
    case KEL_PROVIDER_WORKSPACE_MSG_GET_OPEN_FILE_NAME: return manager.GetOpenFileNameW(body);
    case KEL_PROVIDER_WORKSPACE_MSG_GET_PARENT_PID: return manager.GetParentPid(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE: return manager.ShowBHOConsole(body);
    case KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BHO_CONSOLE: return manager.CloseBHOConsole(body);
    case KEL_PROVIDER_WORKSPACE_MSG_SHOW_SUSPICIOUS_WARNING: return manager.ShowSuspiciousWarning(body);
    case KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS:
        body[WORKSPACE_KEY_CONSOLE_STATUS] = CWorkspaceManager::IsConsoleVisible();
        return PROVIDER_RESULT_OK;
    case KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT:
        body[WORKSPACE_KEY_ACTIVATED_COUNT] = manager.ActivatedUiCount();
        return PROVIDER_RESULT_OK;
    default:   // every id is dealt with above
        return PROVIDER_RESULT_NOT_SUPPORTED;
    }
}
