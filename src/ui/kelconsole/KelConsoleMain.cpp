// KelConsole.exe: prepares the process (debug log, crash dumps, COM, common
// controls), creates the named objects through which the product's other
// processes follow the agent, and hands the main thread to the console
// thread manager, whose result is the exit code.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "AgentDefs.h"
#include "AppModule.h"
#include "CrashDump.h"
#include "DebugLog.h"
#include "KelConsoleThreadManager.h"
#include "ProcessEntry.h"
#include "ProductKeys.h"
#include "QvLog.h"
#include "Synchronize.h"
#include "Version.h"

namespace {

constexpr DWORD NO_SESSION = 0xFFFFFFFF;
constexpr DWORD COMMON_CONTROL_CLASSES = ICC_BAR_CLASSES | ICC_COOL_CLASSES;   // 0x404

DWORD SessionId() {
    using SessionProc = BOOL(WINAPI*)(DWORD, DWORD*);
    if (!QvCommon::Version::Check(QVVER_NT5_OR_LATER)) return NO_SESSION;
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    auto query = kernel ? reinterpret_cast<SessionProc>(
                              reinterpret_cast<void*>(::GetProcAddress(kernel, "ProcessIdToSessionId")))
                        : nullptr;
    DWORD session = NO_SESSION;
    if (!query || !query(::GetCurrentProcessId(), &session)) return NO_SESSION;
    return session;
}

int RunAgentProcess(const wchar_t* commandLine) {
    const DWORD session = SessionId();
    QvCommon::DebugLog& log = QvCommon::DebugLog::Instance();
    log.Initialize(L"KelConsole", QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_DEBUGLOG_KEY),
                   L".\\", QVLOG_SESSION_DETECT);
    QVLOG(QVLOG_INFO, L"KelConsole is started. (session=%d)", static_cast<int>(session));
    QvCommon::Exception::SEH::Instance().Install(QVSEH_CONTINUE_SEARCH);
    ::CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), COMMON_CONTROL_CLASSES};
    ::InitCommonControlsEx(&controls);
    CAppModule::Instance().Init();

    int exitCode = KEL_EXIT_FAILED;
    QvCommon::Synchronize::Event stateEvent;
    QvCommon::Synchronize::Mutex stateMutex;
    if (!stateEvent.Create(KEL_AGENT_STATE_EVENT) || !stateMutex.Create(KEL_AGENT_STATE_MUTEX, false)) {
        QVLOG(QVLOG_ERROR, L"Failed to create state synchronization objects: 0x%08x", ::GetLastError());
    } else {
        CKelConsoleThreadManager manager(AgentStateObjects{stateEvent, stateMutex});
        manager.ParseCommandLine(commandLine);
        exitCode = manager.Run();
    }

    CAppModule::Instance().Term();
    ::CoUninitialize();
    log.Uninitialize();
    return exitCode;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    return QvCommon::Process::GuardedEntry(L"KelConsole", KEL_EXIT_FAILED,
                                           [&] { return RunAgentProcess(commandLine); });
}
