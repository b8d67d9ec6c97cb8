#include "KelConsoleThreadManager.h"

#include <algorithm>
#include <shellapi.h>
#include "AppModule.h"
#include "KeystrokeStatus.h"
#include "MessageWnd.h"
#include "ProductKeys.h"
#include "ProviderMessages.h"
#include "ProviderWrappers.h"
#include "QvException.h"
#include "QvLog.h"
#include "SecureFrameLoader.h"
#include "SelfProtection.h"
#include "SetupLauncher.h"
#include "Storage.h"
#include "Synchronize.h"
#include "WorkspaceProvider.h"

namespace {

using QvCommon::Synchronize::AutoLock;

bool IsOption(const wchar_t* argument, const wchar_t* option) { return ::_wcsicmp(argument, option) == 0; }

// Right after its resumption a UI thread may not have a message queue yet.
void TellThreadToClose(DWORD threadId) {
    for (DWORD attempt = 0; attempt < KEL_CLOSE_POST_TRIES; ++attempt) {
        if (::PostThreadMessageW(threadId, WM_CLOSE, 0, 0)) return;
        if (::GetLastError() != ERROR_INVALID_THREAD_ID) return;
        ::Sleep(KEL_CLOSE_POST_RETRY_MS);
    }
}

} // namespace

std::vector<HANDLE>& PopupThreadList() {
    static std::vector<HANDLE> list;
    return list;
}

CKelConsoleThreadManager::CKelConsoleThreadManager(const AgentStateObjects& state) : m_state(state) {}

CKelConsoleThreadManager::~CKelConsoleThreadManager() {
    while (m_handleCount > 0) RemoveHandle(0);
}

void CKelConsoleThreadManager::ParseCommandLine(const wchar_t* commandLine) {
    int count = 0;
    LPWSTR* arguments = ::CommandLineToArgvW(commandLine ? commandLine : L"", &count);
    QvCommon::UniqueLocalMemory owned(reinterpret_cast<HLOCAL>(arguments));
    for (int i = 0; arguments && i < count; ++i) {
        const wchar_t* argument = arguments[i];
        if (IsOption(argument, KEL_OPTION_SILENT)) m_openConsole = false;
        else if (IsOption(argument, KEL_OPTION_ENTRY_MAIN)) m_entryPoint = KEL_ENTRY_MAIN;
        else if (IsOption(argument, KEL_OPTION_ENTRY_WELCOME)) m_entryPoint = KEL_ENTRY_WELCOME;
        else if (IsOption(argument, KEL_OPTION_SETUP_WIZARD)) m_setupWizardRequested = true;
    }
}

bool CKelConsoleThreadManager::AddHandle(HANDLE handle) {
    AutoLock lock(CAppModule::Instance().GlobalLock());
    if (m_handleCount >= KEL_MAX_WAIT_HANDLES) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::AddHandle: Maximum number of handles exceeded.");
        return false;
    }
    m_handles[m_handleCount++] = handle;
    return true;
}

HANDLE CKelConsoleThreadManager::RemoveHandle(DWORD index) {
    AutoLock lock(CAppModule::Instance().GlobalLock());
    const HANDLE handle = m_handles[index];
    QvCommon::UniqueHandle closing(handle);
    const DWORD last = m_handleCount - 1;
    if (index != last) m_handles[index] = m_handles[last];
    m_handles[last] = nullptr;
    m_handleCount = last;
    return handle;
}

void CKelConsoleThreadManager::ListenerProc(void* context, uint32_t messageId, JsonValue&) {
    auto* self = static_cast<CKelConsoleThreadManager*>(context);
    if (messageId == KEL_BROADCAST_AGENT_RESTART) {
        self->m_restartRequested = true;
        ::SetEvent(self->m_exitEvent.get());
    } else if (messageId == KEL_BROADCAST_AGENT_EXIT) {
        ::SetEvent(self->m_exitEvent.get());
    }
}

int CKelConsoleThreadManager::Run() {
    QVLOG(QVLOG_TRACE, L"[Enter] CKelConsoleThreadManager::Run");
    if (m_handleCount != 0) throw QvCommon::Exception::Result(E_FAIL);
    bool setupNeeded;
    {
        CSetupLauncher check(L"", false);
        setupNeeded = check.SetupNeeded();
    }
    const int exitCode = setupNeeded || m_setupWizardRequested ? KEL_EXIT_FAILED : RunAgent();
    if (m_frameManager) m_frameManager->Uninitialize();
    RestartOrSetup(setupNeeded);
    QVLOG(QVLOG_TRACE, L"[Leave] CKelConsoleThreadManager::Run");
    m_selfProtection.reset();
    m_messageWindow.reset();
    m_workspace.reset();
    m_server.reset();
    m_frameManager.reset();
    m_exitEvent.reset();
    return exitCode;
}

// From the message queue's creation to the end of the stop sequence; the
// exit code.
int CKelConsoleThreadManager::RunAgent() {
    MSG peeked;
    ::PeekMessageW(&peeked, nullptr, FRAME_NOTIFY_MESSAGE, FRAME_NOTIFY_MESSAGE, PM_NOREMOVE);

    // The table closes its copy; the event itself lives until the workspace,
    // which signals it on an exit message, is gone.
    m_exitEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE tableCopy = nullptr;
    if (!m_exitEvent || !::DuplicateHandle(::GetCurrentProcess(), m_exitEvent.get(), ::GetCurrentProcess(),
                                           &tableCopy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: CreateEvent() failed: 0x%08x", ::GetLastError());
        return KEL_EXIT_FAILED;
    }
    AddHandle(tableCopy);
    const HRESULT created = CreateSecureFrame(m_frameManager);
    if (FAILED(created)) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Failed to initialize secure frame: 0x%08x", created);
        return KEL_EXIT_FAILED;
    }
    m_server.reset(new CIpcServerProviderWrapper);
    int exitCode = KEL_EXIT_FAILED;
    try {
        exitCode = ServeUntilExit();
    } catch (const std::exception& error) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Stopping after an exception: %hs", error.what());
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Stopping after an unknown exception.");
    }
    // Every way out of serving stops the same way, so that nothing is torn
    // down while the server still serves.
    m_sessionNotifications.Unregister();
    if (m_messageWindow) m_messageWindow->Destroy();
    try {
        m_frameManager->CloseAll();
    } catch (...) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: CloseAll() failed!");
    }
    WaitForUiThreads();
    StopSequence();
    return exitCode;
}

int CKelConsoleThreadManager::ServeUntilExit() {
    switch (StartProviders()) {
    case Start::AlreadyRunning:
        return KEL_EXIT_ALREADY_RUNNING;
    case Start::Failed:
        return KEL_EXIT_FAILED;
    case Start::Running:
        break;
    }
    StartWorkspace();
    m_messageWindow.reset(new CMessageWnd);
    if (!m_messageWindow->Initialize(m_server.get())) return KEL_EXIT_FAILED;
    m_sessionNotifications.Register(m_messageWindow->Handle());
    KeyboardDriverDecisions();
    m_selfProtection.reset(new CSelfProtection);
    m_selfProtection->Start();
    MainLoop();
    return KEL_EXIT_OK;
}

// Under the agent state mutex: either another agent serves the session, or
// this one brings up the providers and serves them. An abandoned mutex
// leaves the agent running without providers (every call then answers
// "not initialised").
CKelConsoleThreadManager::Start CKelConsoleThreadManager::StartProviders() {
    const DWORD locked = m_state.mutex.Lock(INFINITE);
    if (locked != WAIT_OBJECT_0) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: The agent state mutex was not acquired: %u", locked);
        if (locked == WAIT_ABANDONED) m_state.mutex.Unlock();
        return Start::Running;
    }
    if (CIpcServerProviderWrapper::IsSessionAgentRunning()) {
        QVLOG(QVLOG_INFO, L"***** Session agent is already running.");
        m_state.mutex.Unlock();
        if (m_openConsole) {
            CIpcClientProviderWrapper client;
            if (client.Initialize())
                client.PostMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI,
                                             JsonValue());
        }
        return Start::AlreadyRunning;
    }
    if (!m_server->Initialize() || !m_server->PostInitialize() || !m_server->Start()) {
        QVLOG(QVLOG_ERROR, L"***** Failed to start function provider IPC server.");
        m_state.mutex.Unlock();
        return Start::Failed;
    }
    QVLOG(QVLOG_INFO, L"***** Finished initializing function providers.");
    m_server->AddMessageListener(KEL_LISTENER_CLASS_AGENT_CONTROL, &ListenerProc, this);
    m_server->AddMessageListener(KEL_LISTENER_CLASS_AGENT, &ListenerProc, this);
    m_server->PostMessageToProvider(KEL_PROVIDER_BROWSER_SETTINGS, KEL_BROWSER_MSG_REFRESH_SETTINGS,
                                    JsonValue{{"RefreshIESettings", true}});
    m_state.mutex.Unlock();
    m_state.event.Pulse();
    return Start::Running;
}

void CKelConsoleThreadManager::StartWorkspace() {
    m_frameManager->SetNotifyThread(CAppModule::Instance().MainThreadId(), FRAME_NOTIFY_MESSAGE);
    m_frameManager->SetProviderController(m_server.get());
    m_workspace.reset(new CWorkspaceProvider(m_server.get(), m_frameManager.get(), m_exitEvent.get()));
    m_server->RegisterProvider(m_workspace.get());
    JsonValue none;
    m_server->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_AGENT_STARTED, none);
    m_server->PostMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE,
                                    JsonValue{{"CreateHiddenBhoConsole", true}});
    if (m_openConsole)
        m_server->PostMessageToProvider(KEL_PROVIDER_WORKSPACE, KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, JsonValue());
    m_state.event.Pulse();
}

void CKelConsoleThreadManager::KeyboardDriverDecisions() {
    IProviderController* providers = m_server.get();
    providers->PostMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_BEFORE_DRIVER_CHECK, JsonValue());
    JsonValue driver{{"IsETDExistAndNotUpToDate", false}};
    const uint32_t result = providers->SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_ETD_CHECK, driver);
    QVLOG(QVLOG_INFO, L"res = 0x%08x", result);
    if (KelJson::GetBool(driver, "IsETDExistAndNotUpToDate")) {
        QVLOG(QVLOG_INFO, L"ETD driver exists and is not up-to-date");
    } else {
        QVLOG(QVLOG_INFO, L"obj = %d", static_cast<int>(KelJson::GetInt(driver, "IsETDExistAndNotUpToDate")));
        QVLOG(QVLOG_INFO, L"ETD check ok");
        if (KeystrokeCommon::KeystrokeSatus(providers)) {
            QVLOG(QVLOG_INFO, L"intend to enable kbfilter");
            providers->PostMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_ENABLE_KBFILTER, JsonValue());
        }
        providers->PostMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_DRIVER_CHECK_PASSED, JsonValue());
    }
    const std::wstring keystroke = ReadRegString(HKEY_LOCAL_MACHINE, QV_PRODUCT_KEY, QV_VALUE_ENABLE_KEYSTROKE, L"",
                                                 Frwk::Utility::ProductRegistryView());
    if (keystroke == L"1") {
        QVLOG(QVLOG_INFO, L"EnableKeystroke = 1");
        JsonValue enable{{"PinDriverEnable", true}};
        providers->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_SET_DRIVER_ENABLE, enable);
        providers->PostMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_KEYSTROKE_ENABLED, enable);
    }
}

void CKelConsoleThreadManager::MainLoop() {
    for (;;) {
        const DWORD count = m_handleCount;
        const DWORD woke = ::MsgWaitForMultipleObjects(count, m_handles, FALSE, KEL_MAIN_LOOP_WAIT_MS, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            QVLOG(QVLOG_INFO, L"CKelConsoleThreadManager::Run: Exiting program.");
            return;
        }
        if (woke > WAIT_OBJECT_0 && woke < WAIT_OBJECT_0 + count) {
            const HANDLE ended = RemoveHandle(woke - WAIT_OBJECT_0);
            std::vector<HANDLE>& popups = PopupThreadList();
            popups.erase(std::remove(popups.begin(), popups.end(), ended), popups.end());
        } else if (woke == WAIT_OBJECT_0 + count) {
            HandleQueuedMessage();
        } else if (woke == WAIT_FAILED) {
            QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: MsgWaitForMultipleObjects() failed: 0x%08x",
                  ::GetLastError());
            return;
        } else if (woke != WAIT_TIMEOUT) {
            ::MessageBeep(0xFFFFFFFF);
        }
        if (SeriousMemoryLeak(m_server.get(), m_frameManager.get())) {
            m_restartRequested = true;
            return;
        }
        CheckScreenSaver();
    }
}

// One message per wake-up; the rest wait for the next one.
void CKelConsoleThreadManager::HandleQueuedMessage() {
    MSG message;
    if (!::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) return;
    if (message.hwnd || message.message == WM_TIMER) {
        ::DispatchMessageW(&message);
    } else if (message.message == FRAME_NOTIFY_MESSAGE &&
               (message.wParam == FRAME_KIND_UI || message.wParam == FRAME_KIND_POPUP)) {
        AdoptUiThread(message.wParam, static_cast<DWORD>(message.lParam));
    }
}

void CKelConsoleThreadManager::AdoptUiThread(WPARAM kind, DWORD threadId) {
    // Any process of the desktop can post this message to the main thread:
    // only a frame of this agent's component that still waits to be resumed
    // is adopted, once, or the table would fill with strangers and repeats,
    // and the end would wait for them.
    QvCommon::UniqueCom<IUnknown> frame;
    if (m_frameManager->GetFrameInfo(threadId, frame.put()) == FRAME_E_NOT_FOUND) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Thread %u is not a frame of this agent; not adopted.", threadId);
        return;
    }
    frame.reset();
    QvCommon::UniqueHandle thread(::OpenThread(KEL_UI_THREAD_ACCESS, FALSE, threadId));
    // A handle that is not valid would make every later wait fail.
    if (!thread) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Cannot open UI thread %d: %u", static_cast<int>(threadId),
              ::GetLastError());
        return;
    }
    QVLOG(QVLOG_TRACE, L"CKelConsoleThreadManager::Run: Resuming UI thread %d", static_cast<int>(threadId));
    if (::ResumeThread(thread.get()) != 1) {
        QVLOG(QVLOG_ERROR, L"CKelConsoleThreadManager::Run: Thread %u was not waiting to be adopted; not adopted.", threadId);
        return;
    }
    if (!AddHandle(thread.get())) {
        TellThreadToClose(threadId);
        return;
    }
    HANDLE adopted = thread.release();
    if (kind == FRAME_KIND_POPUP) PopupThreadList().push_back(adopted);
}

void CKelConsoleThreadManager::CheckScreenSaver() {
    BOOL running = FALSE;
    if (!::SystemParametersInfoW(SPI_GETSCREENSAVERRUNNING, 0, &running, 0)) return;
    if (running && !m_screenSaverWasRunning) {
        QVLOG(QVLOG_TRACE, L"Screen saver is running, force invalidate PIN.");
        LockReaction(m_server.get());
    }
    m_screenSaverWasRunning = running != FALSE;
}

void CKelConsoleThreadManager::WaitForUiThreads() {
    if (m_handleCount > 1) {
        QVLOG(QVLOG_INFO, L"CKelConsoleThreadManager::Run: Waiting for all %d workspace threads to finish.",
              static_cast<int>(m_handleCount - 1));
        ::WaitForMultipleObjects(m_handleCount - 1, m_handles + 1, TRUE, INFINITE);
    }
    while (m_handleCount > 0) RemoveHandle(0);
    PopupThreadList().clear();
}

void CKelConsoleThreadManager::StopSequence() {
    if (!m_server) return;
    m_server->BroadcastMessageToListeners(KEL_BROADCAST_AGENT_STOPPING, JsonValue());
    const DWORD locked = m_state.mutex.Lock(INFINITE);
    if (m_server->GetServer() && m_server->IsInitialized()) m_server->Stop();
    if (locked == WAIT_OBJECT_0 || locked == WAIT_ABANDONED) m_state.mutex.Unlock();
    m_state.event.Pulse();
    m_server->UnregisterProvider(KEL_PROVIDER_WORKSPACE);
    if (m_workspace) m_workspace->Uninitialize();
    m_server->Uninitialize();
}

void CKelConsoleThreadManager::RestartOrSetup(bool setupFoundNeeded) {
    if (!m_restartRequested) {
        if (setupFoundNeeded || m_setupWizardRequested) RunSetupStep();
        return;
    }
    m_openConsole = true;
    bool setupNeeded;
    {
        CSetupLauncher check(L"", false);
        setupNeeded = check.SetupNeeded();
    }
    if (setupNeeded) {
        RunSetupStep();
        return;
    }
    RestartAgent();
    if (m_setupWizardRequested) RunSetupStep();
}

void CKelConsoleThreadManager::RunSetupStep() {
    CSetupLauncher launcher(m_entryPoint, !m_openConsole);
    launcher.Launch();
}
