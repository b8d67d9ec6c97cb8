// Shows the management console and the add-on console as the agent will,
// for a person or a screenshot: the frame component from the program's
// folder, the workspace provider over it, the requests sent from a worker
// thread as the agent's IPC workers send them, and the main thread adopting
// the announced UI threads. Ends after the given number of seconds (10).
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <thread>
#include "FrameManager.h"
#include "ProviderMessages.h"
#include "QvHandle.h"
#include "WorkspaceProvider.h"

namespace {

constexpr DWORD DEFAULT_SECONDS = 10;
constexpr DWORD THREAD_ACCESS = THREAD_SUSPEND_RESUME | SYNCHRONIZE;

HRESULT CreateFrameManager(QvCommon::UniqueCom<FrameManager>& manager) {
    HMODULE library = ::LoadLibraryW(L"SecureFrame.dll");   // stays loaded for the process
    if (!library) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(::GetProcAddress(library, "DllGetClassObject")));
    if (!getClassObject) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    QvCommon::UniqueCom<IClassFactory> factory;
    HRESULT result = getClassObject(CLSID_FrameManager, IID_IClassFactory, reinterpret_cast<void**>(factory.put()));
    if (FAILED(result)) return result;
    return factory->CreateInstance(nullptr, IID_FrameManager, reinterpret_cast<void**>(manager.put()));
}

void ShowBoth(CWorkspaceProvider& provider) {
    JsonValue console = {{"TabIndex", 0}};
    const uint32_t shown = provider.MessageProc(KEL_PROVIDER_WORKSPACE_MSG_SHOW_CONSOLE_UI, console);
    JsonValue addOn = {{"BrowserName", "IE"}, {"WindowId", "1"}, {"TabId", "1"}, {"BalloonPosX", 200}, {"BalloonPosY", 150},
                       {"BalloonInitData", "{}"}};
    const uint32_t addOnShown = provider.MessageProc(KEL_PROVIDER_WORKSPACE_MSG_SHOW_BHO_CONSOLE, addOn);
    wprintf(L"management console: 0x%08x, add-on console: 0x%08x\n", shown, addOnShown);
    fflush(stdout);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const DWORD seconds = argc > 1 ? wcstoul(argv[1], nullptr, 10) : DEFAULT_SECONDS;
    ::CoInitialize(nullptr);
    QvCommon::UniqueCom<FrameManager> frames;
    const HRESULT created = CreateFrameManager(frames);
    if (FAILED(created)) {
        fwprintf(stderr, L"SecureFrame.dll: 0x%08lx\n", static_cast<unsigned long>(created));
        return 1;
    }
    frames->SetNotifyThread(::GetCurrentThreadId(), FRAME_NOTIFY_MESSAGE);
    MSG message;
    ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);   // the queue exists before the first announcement
    {
        CWorkspaceProvider provider(nullptr, frames.get(), nullptr);
        std::thread requests([&provider] { ShowBoth(provider); });
        const DWORD end = ::GetTickCount() + seconds * 1000;
        for (DWORD now = ::GetTickCount(); static_cast<LONG>(end - now) > 0; now = ::GetTickCount()) {
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd == nullptr && message.message == FRAME_NOTIFY_MESSAGE) {
                    QvCommon::UniqueHandle thread(::OpenThread(THREAD_ACCESS, FALSE, static_cast<DWORD>(message.lParam)));
                    if (thread) ::ResumeThread(thread.get());
                    continue;
                }
                ::DispatchMessageW(&message);
            }
        }
        requests.join();
    }
    frames->Uninitialize();
    frames.reset();
    ::CoUninitialize();
    return 0;
}
