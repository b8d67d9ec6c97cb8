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
}

