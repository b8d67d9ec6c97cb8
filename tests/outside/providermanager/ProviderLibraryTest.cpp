#include <gtest/gtest.h>

#include "LibProviderManager.h"
#include "ProductKeys.h"
#include "ProviderMessages.h"
#include "QvLog.h"
#include "TestSupport.h"

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <vector>

namespace {

constexpr uint32_t WORKSPACE = KEL_PROVIDER_WORKSPACE;

// A provider of class 6 for the tests: records the thread of each call, can
// hold a call until released, and runs out of memory when told to.
struct TestProvider : KelTest::ProviderStub {
    enum : uint32_t { PLAIN = 0x18000008, HOLD = 0x18000099, NO_MEMORY };
    TestProvider() : ProviderStub(WORKSPACE) {}
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override {
        lastThread = ::GetCurrentThreadId();
        if (messageId == HOLD) { entered.Set(); release.Wait(KelTest::CHILD_START_MS); }
        if (messageId == NO_MEMORY) throw std::bad_alloc();
        body = {{"handled", messageId}};
        ++calls;
        return 0;
    }
    std::atomic<DWORD> lastThread{0};
    std::atomic<int> calls{0};
    KelTest::NamedEvent entered{KelTest::UniqueName(L"entered")}, release{KelTest::UniqueName(L"release")};
};

// The library loaded from the binary folder; its host records what it was given.
// When it does not load, the host stands in: the test fails, the process goes on.
struct LoadedLibrary {
    LoadedLibrary() {
        EXPECT_TRUE(manager.Initialize(L".\\"));
        if (!manager.IsBound()) return;
        EXPECT_EQ(0u, manager.InitializeProviders(0, &host));
        EXPECT_EQ(0u, manager.QueryProviderController(&controller));
        EXPECT_EQ(0u, manager.PostInitializeProviders());
    }
    ~LoadedLibrary() {
        if (!manager.IsBound()) return;
        manager.UninitializeProviders();
        manager.Uninitialize();
    }
    KelTest::CannedController host{0x42, {{"host", true}}};
    IProviderController* controller = &host;
    LibProviderManager manager;
};

} // namespace

TEST(ProviderLibrary, RoutesByClassAndFamily) {
    LoadedLibrary library;
    IProviderController* controller = library.controller;

    // Nobody registered class 6 yet: refused here, not passed on.
    JsonValue body;
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, controller->SendMessageToProvider(WORKSPACE, TestProvider::PLAIN, body));
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, controller->PostMessageToProvider(WORKSPACE, TestProvider::PLAIN, body));

    // The system side's messages leave through the host.
    EXPECT_EQ(0x42u, controller->SendMessageToProvider(KEL_PROVIDER_MISC, KEL_MISC_MSG_SETUP_COMMAND, body));
    EXPECT_TRUE(KelJson::GetBool(body, "host"));
    EXPECT_EQ(0u, controller->PostMessageToProvider(KEL_PROVIDER_BROWSER_SETTINGS, KEL_BROWSER_MSG_REFRESH_SETTINGS,
                                                    {{"RefreshIESettings", true}}));
    const std::vector<JsonValue> expected = {   // both left on this thread
        {{"mode", "send"}, {"class", KEL_PROVIDER_MISC}, {"message", KEL_MISC_MSG_SETUP_COMMAND}, {"body", nullptr}},
        {{"mode", "post"}, {"class", KEL_PROVIDER_BROWSER_SETTINGS}, {"message", KEL_BROWSER_MSG_REFRESH_SETTINGS},
         {"body", {{"RefreshIESettings", true}}}}};
    EXPECT_EQ(expected, library.host.Calls());

    // A registered provider gets sends on the caller's thread, with the reply
    // in the caller's body, and posts on another thread without the caller
    // waiting for them.
    TestProvider provider;
    ASSERT_EQ(0u, controller->RegisterProvider(&provider));
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER, controller->RegisterProvider(&provider));
    ASSERT_EQ(0u, controller->SendMessageToProvider(WORKSPACE, TestProvider::PLAIN, body));
    EXPECT_EQ(::GetCurrentThreadId(), provider.lastThread.load());
    EXPECT_EQ(TestProvider::PLAIN, KelJson::GetInt(body, "handled"));
    ASSERT_EQ(0u, controller->PostMessageToProvider(WORKSPACE, TestProvider::HOLD, JsonValue()));
    ASSERT_TRUE(provider.entered.Wait(5000));
    EXPECT_NE(::GetCurrentThreadId(), provider.lastThread.load());

    // Unregistering waits for the call in progress: the caller may then
    // destroy its provider.
    auto unregister = std::async(std::launch::async, [&] { controller->UnregisterProvider(WORKSPACE); });
    EXPECT_EQ(std::future_status::timeout, unregister.wait_for(std::chrono::milliseconds(300)));
    provider.release.Set();
    unregister.get();
    EXPECT_EQ(2, provider.calls.load());
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, controller->SendMessageToProvider(WORKSPACE, TestProvider::PLAIN, body));
}

// Which code each kind of exception becomes is the guard's, tested with the
// IPC server; here one kind shows that it fails only its own message.
TEST(ProviderLibrary, AProvidersExceptionFailsOnlyItsMessage) {
    KelTest::TempFolder logFolder;
    KelTest::RegistryScope logSettings(QV_DEBUGLOG_KEY);   // the library's own log
    ASSERT_TRUE(logSettings.Set(KelTest::LogSettings(QVLOG_ERROR, logFolder.Path()), QV_DEBUGLOG_INTERACTIVE));
    LoadedLibrary library;
    IProviderController* controller = library.controller;
    TestProvider provider;
    ASSERT_EQ(0u, controller->RegisterProvider(&provider));
    JsonValue body;
    EXPECT_EQ(PROVIDER_RESULT_OUT_OF_MEMORY, controller->SendMessageToProvider(WORKSPACE, TestProvider::NO_MEMORY, body));
    // Posted, the same exception ends on a worker thread, which goes on serving.
    EXPECT_EQ(0u, controller->PostMessageToProvider(WORKSPACE, TestProvider::NO_MEMORY, body));
    EXPECT_EQ(0u, controller->PostMessageToProvider(WORKSPACE, TestProvider::PLAIN, JsonValue()));
    EXPECT_TRUE(KelTest::WaitUntil([&] { return provider.calls == 1; }));
    const KelTest::LogFolder log(logFolder.Path());
    EXPECT_TRUE(log.WaitFor("!!! <ProviderManager32> CProviderController::Deliver", 5000, 2)) << log.Text();
}

TEST(ProviderLibrary, StaysLoadedWhileAPostedCallRuns) {
    TestProvider provider;
    {
        LoadedLibrary library;
        ASSERT_EQ(0u, library.controller->RegisterProvider(&provider));
        ASSERT_EQ(0u, library.controller->PostMessageToProvider(WORKSPACE, TestProvider::HOLD, JsonValue()));
        ASSERT_TRUE(provider.entered.Wait(5000));
    }   // uninitialised and freed while the call is held: the controller waits for it, then gives up
    EXPECT_NE(nullptr, ::GetModuleHandleW(PROVIDER_LIBRARY_NAME));
    provider.release.Set();
    EXPECT_TRUE(KelTest::WaitUntil([&] { return provider.calls == 1; }));
    ::Sleep(300);   // the worker goes back through the library's code and ends
}

