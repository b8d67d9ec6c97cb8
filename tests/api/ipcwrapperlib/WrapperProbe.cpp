// Starts a server provider wrapper from the folder this program lies in, so
// that the provider library is looked up there first, and prints what became
// of it:  initialize=<0|1> initialized=<0|1> server=<0|1> loaded=<0|1> start=<0|1>
// The debug log goes to the folder given as the only argument.
#include <windows.h>
#include <cstdio>
#include <cwchar>

#include "LibProviderManager.h"
#include "ProviderWrappers.h"
#include "TestSupport.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    KelTest::CapturedLog log(argv[1]);   // loads the tracing library from the current folder
    // From now on the current folder is this program's own, so that no
    // provider library is found but the one beside it.
    ::SetCurrentDirectoryW(KelTest::ProgramFolder().c_str());
    bool initialize, initialized, server, loaded, start;
    {
        CIpcServerProviderWrapper wrapper;
        initialize = wrapper.Initialize();
        initialized = wrapper.IsInitialized();
        server = wrapper.GetServer() != nullptr;
        loaded = ::GetModuleHandleW(PROVIDER_LIBRARY_NAME) != nullptr;
        start = wrapper.Start();
    }
    std::printf("initialize=%d initialized=%d server=%d loaded=%d start=%d\n", initialize, initialized, server,
                loaded, start);
    return 0;
}
