#pragma once
// Runs the agent on the main thread: decides whether this process serves the
// session, brings up the providers, the frame component and the workspace,
// then waits on the exit event, the UI threads and the message queue until
// it is told to exit, and takes everything down in a fixed order.
#include <windows.h>
#include <atomic>
#include <memory>
#include <string>
#include <vector>
#include "FrameManager.h"
#include "JsonBody.h"
#include "AgentDefs.h"
#include "QvHandle.h"
#include "SessionNotifications.h"

class CIpcServerProviderWrapper;
class CMessageWnd;
class CSelfProtection;
class CWorkspaceProvider;

namespace QvCommon { namespace Synchronize { class Event; class Mutex; } }

// The two named objects through which other processes follow the agent's state.
struct AgentStateObjects {
    QvCommon::Synchronize::Event& event;
    QvCommon::Synchronize::Mutex& mutex;
};

class CKelConsoleThreadManager {
public:
    explicit CKelConsoleThreadManager(const AgentStateObjects& state);
    ~CKelConsoleThreadManager();
    CKelConsoleThreadManager(const CKelConsoleThreadManager&) = delete;
    CKelConsoleThreadManager& operator=(const CKelConsoleThreadManager&) = delete;

    // Whole arguments in any letter case; a later option overrides an earlier one.
    void ParseCommandLine(const wchar_t* commandLine);
    int Run();

    bool AddHandle(HANDLE handle);
    HANDLE RemoveHandle(DWORD index);

    // True means restart now.
    bool SeriousMemoryLeak(IProviderController* controller, FrameManager* frameManager);

    bool OpenConsole() const { return m_openConsole; }
    const std::wstring& EntryPoint() const { return m_entryPoint; }
    bool SetupWizardRequested() const { return m_setupWizardRequested; }

private:
    enum class Start { Running, AlreadyRunning, Failed };
    static void ListenerProc(void* context, uint32_t messageId, JsonValue& body);

    int RunAgent();
    // From the providers' start to the main loop's end; the exit code.
    int ServeUntilExit();
    Start StartProviders();
    void StartWorkspace();
    void KeyboardDriverDecisions();
    void MainLoop();
    void HandleQueuedMessage();
    void AdoptUiThread(WPARAM kind, DWORD threadId);
    void CheckScreenSaver();
    void WaitForUiThreads();
    void StopSequence();
    void RestartOrSetup(bool setupFoundNeeded);
    void RunSetupStep();

    DWORD m_handleCount = 0;
    HANDLE m_handles[KEL_MAX_WAIT_HANDLES] = {};
    std::atomic<bool> m_restartRequested{false};   // also set on a broker thread
    bool m_openConsole = true;
    std::wstring m_entryPoint;
    bool m_setupWizardRequested = false;

    AgentStateObjects m_state;
    QvCommon::UniqueHandle m_exitEvent;   // a copy of it is entry 0 of the table
    QvCommon::UniqueCom<FrameManager> m_frameManager;
    std::unique_ptr<CIpcServerProviderWrapper> m_server;
    std::unique_ptr<CWorkspaceProvider> m_workspace;
    std::unique_ptr<CMessageWnd> m_messageWindow;
    SessionNotifications m_sessionNotifications;
    std::unique_ptr<CSelfProtection> m_selfProtection;
    bool m_screenSaverWasRunning = false;
};

// Starts a fresh silent agent from the running program's folder.
void RestartAgent();

// The UI threads that were announced as pop-ups, in announcement order.
std::vector<HANDLE>& PopupThreadList();
