#include <gtest/gtest.h>

#include "LibProviderManager.h"
#include "PinProvider.h"
#include "ProviderMessages.h"
#include "TestSupport.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// The host the library reaches the outside through: records what it was given.
class RecordingHost : public IProviderController {
public:
    uint32_t SendMessageToProvider(uint32_t classId, uint32_t messageId, JsonValue& body) override {
        std::lock_guard<std::mutex> guard(lock);
        sent.push_back({classId, messageId});
        body = {{"host", true}};
        return 0x42;
    }
    uint32_t PostMessageToProvider(uint32_t classId, uint32_t messageId, const JsonValue&) override {
        std::lock_guard<std::mutex> guard(lock);
        posted.push_back({classId, messageId});
        return 0;
    }
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> sent, posted;
};

// A provider of class 6 for the tests: records the thread of each call and
// can hold a call until released.
class TestProvider : public IFunctionProvider {
public:
    explicit TestProvider(IProviderController* controller) : IFunctionProvider(controller) {
        m_classId = KEL_PROVIDER_WORKSPACE;
        release.Create();
        entered.Create();
    }
    uint32_t Initialize() override { return 0; }
    uint32_t PostInitialize() override { return 0; }
    uint32_t Uninitialize() override { return 0; }
    bool QueryState(uint32_t, uint32_t) override { return true; }
    uint32_t MessageProc(uint32_t messageId, JsonValue& body) override {
        lastThread = ::GetCurrentThreadId();
        entered.Set();
        if (messageId == HOLD) release.Wait(INFINITE);
        body = {{"handled", messageId}};
        ++calls;
        return 0;
    }
    static constexpr uint32_t HOLD = 0x18000099;
    std::atomic<DWORD> lastThread{0};
    std::atomic<int> calls{0};
    QvCommon::Synchronize::Event release, entered;
};

// The library loaded from the binary folder and initialised with a host.
class LoadedLibrary {
public:
    explicit LoadedLibrary(IProviderController* host) {
        EXPECT_TRUE(m_manager.Initialize(L".\\"));
        EXPECT_EQ(0u, m_manager.InitializeProviders(0, host));
        EXPECT_EQ(0u, m_manager.QueryProviderController(&controller));
        EXPECT_NE(nullptr, controller);
        EXPECT_EQ(0u, m_manager.PostInitializeProviders());
    }
    ~LoadedLibrary() {
        m_manager.UninitializeProviders();
        m_manager.Uninitialize();
    }
    IProviderController* controller = nullptr;
private:
    LibProviderManager m_manager;
};

// The PIN provider's settings, under the product key for the length of a test.
class PinSettings {
public:
    PinSettings(DWORD state, DWORD driverEnable, const std::wstring& backupFolder) {
        ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, PIN_PROVIDER_KEY, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                          nullptr, m_key.put(), nullptr);
        ::RegSetValueExW(m_key.get(), L"PinState", 0, REG_DWORD, reinterpret_cast<BYTE*>(&state), 4);
        ::RegSetValueExW(m_key.get(), L"PinDriverEnable", 0, REG_DWORD, reinterpret_cast<BYTE*>(&driverEnable), 4);
        ::RegSetValueExW(m_key.get(), L"GoldenKeyBackupFolder", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(backupFolder.c_str()),
                         static_cast<DWORD>((backupFolder.size() + 1) * 2));
    }
    ~PinSettings() {
        m_key.reset();
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, PIN_PROVIDER_KEY, KEY_WOW64_64KEY, 0);
    }
private:
    QvCommon::UniqueRegKey m_key;
};

uint32_t Send(IProviderController* controller, uint32_t classId, uint32_t messageId, JsonValue& body) {
    return controller->SendMessageToProvider(classId, messageId, body);
}

} // namespace

TEST(PinProvider, AnswersAndChangesItsState) {
    KelTest::TempFolder backups;
    PinSettings settings(PIN_STATE_KEY_NOT_BACKED_UP, 1, backups.Path());
    RecordingHost host;
    LoadedLibrary library(&host);
    IProviderController* pin = library.controller;

    JsonValue body = {{"PinState", 0u}};
    ASSERT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body));
    EXPECT_EQ(2, KelJson::GetInt(body, "PinState"));

    // The memory watchdog's exchange: a state of 2 asks for a backup, which
    // writes the key away and leaves the PIN valid.
    ASSERT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_BACKUP_GOLDEN_KEY, body));
    EXPECT_EQ(1, KelJson::GetInt(body, "PinState"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((backups.Path() + PIN_BACKUP_FILE_NAME).c_str()));
    body = {{"PinState", 0u}};
    ASSERT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body));
    EXPECT_EQ(1, KelJson::GetInt(body, "PinState"));
    EXPECT_EQ(1, KelJson::GetInt(body, "GoldenKeyBackups"));

    JsonValue none;
    EXPECT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_INVALIDATE, none));   // lock, suspend, screen saver
    body = {{"PinState", 0u}};
    Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body);
    EXPECT_EQ(0, KelJson::GetInt(body, "PinState"));

    body = JsonValue();
    ASSERT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_KEYSTROKE_STATUS, body));
    EXPECT_TRUE(KelJson::GetBool(body, "PinDriverEnable"));
    body = {{"PinDriverEnable", false}};
    ASSERT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_SET_DRIVER_ENABLE, body));
    body = JsonValue();
    Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_KEYSTROKE_STATUS, body);
    EXPECT_FALSE(KelJson::GetBool(body, "PinDriverEnable"));

    EXPECT_EQ(0u, Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_AGENT_STARTED, none));
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, Send(pin, KEL_PROVIDER_PIN, 0x110000FF, none));
    JsonValue noFlag = JsonValue::object();
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER,
              Send(pin, KEL_PROVIDER_PIN, KEL_PIN_MSG_SET_DRIVER_ENABLE, noFlag));
}

TEST(ProviderLibrary, RoutesByClassAndFamily) {
    RecordingHost host;
    LoadedLibrary library(&host);
    IProviderController* controller = library.controller;

    // Nobody registered class 6 yet: refused here, not passed on.
    JsonValue body;
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, Send(controller, KEL_PROVIDER_WORKSPACE, 0x18000008, body));
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, controller->PostMessageToProvider(KEL_PROVIDER_WORKSPACE, 0x18000008, body));

    // The system side's messages leave through the host.
    EXPECT_EQ(0x42u, Send(controller, KEL_PROVIDER_MISC, KEL_MISC_MSG_SETUP_COMMAND, body));
    EXPECT_TRUE(KelJson::GetBool(body, "host"));
    EXPECT_EQ(0u, controller->PostMessageToProvider(KEL_PROVIDER_BROWSER_SETTINGS, KEL_BROWSER_MSG_REFRESH_SETTINGS,
                                                    {{"RefreshIESettings", true}}));
    {
        std::lock_guard<std::mutex> guard(host.lock);
        ASSERT_EQ(1u, host.sent.size());
        EXPECT_EQ(KEL_MISC_MSG_SETUP_COMMAND, host.sent[0].second);
        ASSERT_EQ(1u, host.posted.size());
        EXPECT_EQ(KEL_PROVIDER_BROWSER_SETTINGS, host.posted[0].first);
    }

    // A registered provider gets sends on the caller's thread, with the reply
    // in the caller's body, and posts on another thread without the caller
    // waiting for them.
    TestProvider provider(controller);
    ASSERT_EQ(0u, controller->RegisterProvider(&provider));
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER, controller->RegisterProvider(&provider));
    body = JsonValue();
    ASSERT_EQ(0u, Send(controller, KEL_PROVIDER_WORKSPACE, 0x18000008, body));
    EXPECT_EQ(::GetCurrentThreadId(), provider.lastThread.load());
    EXPECT_EQ(0x18000008, KelJson::GetInt(body, "handled"));

    provider.entered.Reset();
    ASSERT_EQ(0u, controller->PostMessageToProvider(KEL_PROVIDER_WORKSPACE, TestProvider::HOLD, JsonValue()));
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), provider.entered.Wait(5000));
    EXPECT_NE(::GetCurrentThreadId(), provider.lastThread.load());

    // Unregistering waits for the call in progress: the caller may then
    // destroy its provider.
    std::atomic<bool> unregistered{false};
    std::thread unregister([&] {
        controller->UnregisterProvider(KEL_PROVIDER_WORKSPACE);
        unregistered = true;
    });
    ::Sleep(300);
    EXPECT_FALSE(unregistered.load());
    provider.release.Set();
    unregister.join();
    EXPECT_TRUE(unregistered.load());
    EXPECT_EQ(2, provider.calls.load());
    EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, Send(controller, KEL_PROVIDER_WORKSPACE, 0x18000008, body));
}

namespace {
struct Heard {
    std::mutex lock;
    std::vector<uint32_t> messages;
    QvCommon::Synchronize::Event got;
};
void Listener(void* context, uint32_t messageId, JsonValue&) {
    auto* heard = static_cast<Heard*>(context);
    std::lock_guard<std::mutex> guard(heard->lock);
    heard->messages.push_back(messageId);
    heard->got.Set();
}
} // namespace

TEST(ProviderLibrary, BroadcastsReachListenersAndUninitialiseReleasesThem) {
    Heard heard;
    heard.got.Create();
    {
        RecordingHost host;
        LoadedLibrary library(&host);
        ASSERT_EQ(0u, library.controller->AddMessageListener(0x1102, &Listener, &heard));
        ASSERT_EQ(0u, library.controller->BroadcastMessageToListeners(KEL_BROADCAST_DESKTOP_LOCKED, JsonValue()));
        ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), heard.got.Wait(5000));
    }
    std::lock_guard<std::mutex> guard(heard.lock);
    ASSERT_EQ(2u, heard.messages.size());
    EXPECT_EQ(KEL_BROADCAST_DESKTOP_LOCKED, heard.messages[0]);
    EXPECT_EQ(0u, heard.messages[1]);   // released once, when the library went
}

TEST(ProviderLibrary, AcceptsConcurrentCallers) {
    RecordingHost host;
    LoadedLibrary library(&host);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                JsonValue body = {{"PinState", 0u}};
                if (library.controller->SendMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_GET_STATE, body) != 0 ||
                    !body.contains("PinState"))
                    ++failures;
                if (library.controller->PostMessageToProvider(KEL_PROVIDER_PIN, KEL_PIN_MSG_AGENT_STARTED, body) != 0)
                    ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(0, failures.load());
}
