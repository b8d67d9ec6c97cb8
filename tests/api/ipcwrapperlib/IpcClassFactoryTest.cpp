// The factory's clients use the product's fixed pipe names, which every
// process of the Wine prefix shares: these tests run under a resource lock.
#include <gtest/gtest.h>

#include "IpcClassFactory.h"
#include "TestProcesses.h"

TEST(IpcClassFactory, BothClientsServeTheirPipesUntilTheLastUserReleases) {
    ServerProcess session(IPC_SESSION_PIPE), system(IPC_SYSTEM_PIPE);
    ASSERT_TRUE(session.Ready() && system.Ready());
    IpcClassFactory& factory = IpcClassFactory::Instance();
    ASSERT_EQ(0u, factory.GetCount());
    CIpcClient* sessionClient = factory.CreateClient(false);
    ASSERT_NE(nullptr, sessionClient);
    EXPECT_EQ(1u, factory.GetCount());
    CIpcClient* systemClient = factory.CreateClient(true);
    ASSERT_NE(nullptr, systemClient);
    EXPECT_NE(sessionClient, systemClient);
    EXPECT_EQ(2u, factory.GetCount());
    EXPECT_EQ(sessionClient, factory.CreateClient(false));   // the same client again
    EXPECT_EQ(3u, factory.GetCount());
    factory.ReleaseClient(sessionClient);

    // Each client reaches the server of its own pipe.
    for (ServerProcess* server : {&session, &system}) {
        const std::string side = server == &session ? "session" : "system";
        JsonValue body{{"side", side}};
        EXPECT_EQ(0u, (server == &session ? sessionClient : systemClient)->SendMessageToProvider(0x0D, 0x1F000001, body));
        EXPECT_EQ(JsonValue::parse(R"({"ok":1})"), body);
        const JsonValue sends = server->State()["sends"];
        ASSERT_EQ(1u, sends.size());
        EXPECT_EQ(side, sends[0]["body"]["side"]);
    }

    factory.ReleaseClient(sessionClient);
    EXPECT_EQ(1u, factory.GetCount());
    EXPECT_TRUE(sessionClient->IsInitialized() && systemClient->IsInitialized());
    factory.ReleaseClient(systemClient);
    EXPECT_EQ(0u, factory.GetCount());
    EXPECT_FALSE(sessionClient->IsInitialized());
    EXPECT_FALSE(systemClient->IsInitialized());
    JsonValue body;
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, sessionClient->SendMessageToProvider(0x106, 0x18000001, body));

    // A new first user initialises both again.
    EXPECT_EQ(systemClient, factory.CreateClient(true));
    EXPECT_TRUE(sessionClient->IsInitialized());
    EXPECT_EQ(0u, systemClient->SendMessageToProvider(0x0D, 0x1F000001, body));
    factory.ReleaseClient(systemClient);
    EXPECT_EQ(0u, factory.GetCount());
}

TEST(IpcClassFactory, ReleaseOfAnUnrelatedPointerChangesNothing) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    IpcClassFactory& factory = IpcClassFactory::Instance();
    CIpcClient* client = factory.CreateClient(false);
    ASSERT_NE(nullptr, client);
    CIpcClient unrelated;
    for (CIpcClient* stranger : {&unrelated, static_cast<CIpcClient*>(nullptr)}) {
        factory.ReleaseClient(stranger);
        EXPECT_EQ(1u, factory.GetCount());
        EXPECT_TRUE(client->IsInitialized());
    }
    EXPECT_EQ(2u, log.Count("IpcClassFactory::ReleaseClient: Invalid pointer."));
    factory.ReleaseClient(client);
    EXPECT_EQ(0u, factory.GetCount());
}

TEST(IpcClassFactory, AProcessThatEndsWithUsersLogsTheCount) {
    KelTest::TempFolder logFolder;
    KelTest::ChildProcess child(L"ipc_helper.exe", L"factory-exit " + KelTest::Argument(logFolder.Path()));
    EXPECT_EQ(0u, child.Wait(KelTest::CHILD_START_MS));
    EXPECT_TRUE(KelTest::LogFolder(logFolder.Path())
                    .Contains("IpcClassFactory::~IpcClassFactory: Rerference count is not zero (1)."));
}

TEST(ReferenceCount, CountsWithinItsLimits) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    ReferenceCount count;
    // '+' AddRef, '-' Release, '0' reset; each with the count afterwards.
    const std::pair<char, uint32_t> steps[] = {{'-', 0}, {'+', 1}, {'+', 2}, {'-', 1}, {'+', 2},
                                               {'0', 0}, {'-', 0}, {'+', 1}, {'-', 0}};
    for (const auto& step : steps) {
        if (step.first == '+') { EXPECT_EQ(step.second, count.AddRef()); }
        else if (step.first == '-') { EXPECT_EQ(step.second, count.Release()); }
        else count.ResetCount();
        EXPECT_EQ(step.second, count.GetCount());
    }
    // Release at 0, twice in the steps; the text is the product's own.
    EXPECT_EQ(2u, log.Count("***ReferenceCount::AddRef() - Reference Count was the lower limit."));
}
