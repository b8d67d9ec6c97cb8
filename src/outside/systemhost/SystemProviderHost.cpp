// SystemProviderHost: the product's service as this project builds it. It
// serves the system pipe with the IPC server, holds the providers of classes
// 12 and 13 and the listeners of the agent, keeps a journal of every message
// it received, and broadcasts on request. It runs until a stop message
// (class 0x7F, 0x7F000001), Ctrl+C or the end of its console.
//
//   SystemProviderHost [--pipe NAME] [--config FILE.json] [--journal FILE] [--ready-event NAME]
#include <windows.h>
#include <cstdio>
#include <string>

#include "DebugLog.h"
#include "HostProviders.h"
#include "IpcDefs.h"
#include "IpcServer.h"
#include "Journal.h"
#include "JournalingController.h"
#include "ProcessEntry.h"
#include "ProductKeys.h"
#include "ProviderController.h"
#include "QvHandle.h"
#include "QvLog.h"
#include "TempFolder.h"

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_NOT_SERVING = 1;
constexpr int EXIT_USAGE = 2;
#define JOURNAL_FILE_NAME L"SystemProviderHost.journal"

struct Options {
    std::wstring pipe = IPC_SYSTEM_PIPE;
    std::wstring config;
    std::wstring journal;
    std::wstring readyEvent;
};

HANDLE s_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    ::SetEvent(s_stop);
    return TRUE;
}

void Usage() {
    std::fwprintf(stderr,
                  L"usage: SystemProviderHost [--pipe NAME] [--config FILE.json] [--journal FILE] "
                  L"[--ready-event NAME]\n"
                  L"  --pipe         pipe to serve (default " IPC_SYSTEM_PIPE L")\n"
                  L"  --config       answers as JSON: SetupCommand, IsETDExistAndNotUpToDate,\n"
                  L"                 DisplayMainConsoleFlag (default: HKLM\\" HOST_SETTINGS_KEY L")\n"
                  L"  --journal      where every received message is written, one JSON line each\n"
                  L"                 (default: %%TEMP%%\\" JOURNAL_FILE_NAME L")\n"
                  L"  --ready-event  a Local\\ event signalled once the pipe is served\n");
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::wstring name = argv[i];
        if (i + 1 >= argc) return false;
        std::wstring value = argv[++i];
        if (name == L"--pipe") options.pipe = value;
        else if (name == L"--config") options.config = value;
        else if (name == L"--journal") options.journal = value;
        else if (name == L"--ready-event") options.readyEvent = value;
        else return false;
    }
    return !options.pipe.empty();
}

// The journal's place by default; false when the system names no temp folder.
bool DefaultJournal(Options& options) {
    if (!options.journal.empty()) return true;
    const std::wstring temp = GetTempFolder();
    if (temp.empty()) return false;
    options.journal = temp + JOURNAL_FILE_NAME;
    return true;
}

int Serve(const Options& options, const HostSettings& settings) {
    QvCommon::UniqueHandle stop(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s_stop = stop.get();
    ::SetConsoleCtrlHandler(&OnConsoleEvent, TRUE);

    CProviderController providers(nullptr);
    if (!providers.Start()) {
        std::fwprintf(stderr, L"SystemProviderHost: cannot start the provider controller\n");
        return EXIT_NOT_SERVING;
    }
    CMiscProvider misc(&providers, settings);
    CBrowserSettingsProvider browser(&providers);
    CHostControlProvider control(&providers, stop.get());
    providers.RegisterProvider(&misc);
    providers.RegisterProvider(&browser);
    providers.RegisterProvider(&control);

    CJournal journal(options.journal);
    CJournalingController journaling(providers, journal);
    CIpcServer server;
    uint32_t result = server.Initialize(&journaling, options.pipe);
    if (result == 0) result = server.Start();
    if (result != 0) {
        std::fwprintf(stderr, L"SystemProviderHost: cannot serve \\\\.\\pipe\\%ls (0x%08x); "
                              L"is another service running?\n", options.pipe.c_str(), result);
        return EXIT_NOT_SERVING;
    }
    std::wprintf(L"SystemProviderHost: serving \\\\.\\pipe\\%ls, journal %ls\n", options.pipe.c_str(),
                 journal.Path().c_str());
    std::fflush(stdout);
    // Kept open while the service runs: a waiter that opens it late still
    // finds it signalled.
    QvCommon::UniqueHandle ready;
    if (!options.readyEvent.empty()) {
        ready.reset(::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + options.readyEvent).c_str()));
        ::SetEvent(ready.get());
    }

    // The server serves its pipe again by itself when a result record ends
    // its accept thread; the service only waits to be told to stop.
    ::WaitForSingleObject(stop.get(), INFINITE);

    server.Stop();
    server.Uninitialize();
    for (uint32_t id : {misc.GetClassId(), browser.GetClassId(), control.GetClassId()})
        providers.UnregisterProvider(id);
    providers.Stop();
    std::wprintf(L"SystemProviderHost: stopped\n");
    return EXIT_OK;
}

int Run(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Usage();
        return EXIT_USAGE;
    }
    if (!DefaultJournal(options)) {
        std::fwprintf(stderr, L"SystemProviderHost: no temp folder for the journal; give --journal FILE\n");
        return EXIT_USAGE;
    }
    HostSettings settings;
    if (options.config.empty()) {
        settings = ReadHostSettingsFromRegistry();
    } else {
        std::wstring error;
        if (!LoadHostSettings(options.config, settings, error)) {
            std::fwprintf(stderr, L"SystemProviderHost: %ls\n", error.c_str());
            return EXIT_USAGE;
        }
    }
    QvCommon::DebugLog::Instance().Initialize(
        L"SystemProviderHost", QvCommon::Storage::Key(QVSTORAGE_REGISTRY, HKEY_LOCAL_MACHINE, QV_DEBUGLOG_KEY),
        L".\\", QVLOG_SESSION_DETECT);
    int code = Serve(options, settings);
    QvCommon::DebugLog::Instance().Uninitialize();
    return code;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    return QvCommon::Process::GuardedEntry(L"SystemProviderHost", EXIT_NOT_SERVING, [&] { return Run(argc, argv); });
}
