#include <gtest/gtest.h>

#include "TestProcesses.h"

#include <algorithm>

namespace {

const JsonValue BODY = JsonValue::parse(R"({"n":1,"text":"relayed"})");

// A client of the server process with one listener, added for each class
// given (a class given twice is added twice).
struct Listening {
    Listening(const std::wstring& server, std::initializer_list<uint32_t> classes) {
        ok = client.Initialize(server);
        for (uint32_t listenerClass : classes)
            ok = ok && client.AddMessageListener(listenerClass, heard.Proc(), heard.Context()) == 0;
    }
    std::string Pipe() const { return KelTest::Narrow(client.GetNotifyPipeName()); }
    std::vector<uint32_t> Heard() const {
        std::vector<uint32_t> ids;
        for (const KelTest::HeardCall& call : heard.Calls()) {
            EXPECT_EQ(BODY, call.body);
            ids.push_back(call.messageId);
        }
        std::sort(ids.begin(), ids.end());   // speakers finish in any order
        return ids;
    }
    KelTest::ListenerRecorder heard;   // outlives the client, which releases it last
    CIpcClient client;
    bool ok = false;
};

} // namespace

// Each client hears every broadcast of the classes it listens to, once, over
// its one notify pipe, and nothing of the others.
TEST(RemoteListener, BroadcastsReachTheListenersOfTheirClassInEveryClientExactlyOnce) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    Listening first(server.Pipe(), {0x106}), both(server.Pipe(), {0x106, 0x107}), other(server.Pipe(), {0x107});
    ASSERT_TRUE(first.ok && both.ok && other.ok);
    ASSERT_EQ(36u, both.Pipe().size());   // a GUID without its braces
    for (const char* listenerClass : {"0x0106", "0x0107"}) {
        const std::string added = "Added remote listener for class " + std::string(listenerClass) + ", client ";
        ASSERT_TRUE(server.Log().WaitFor(added, 5000, 2));
    }
    const std::vector<uint32_t> of106 = {0x01060000, 0x01060001, 0x01060002, 0x01060003, 0x01060004};
    std::vector<uint32_t> sent = of106;
    sent.push_back(0x01070001);
    for (uint32_t messageId : sent) ASSERT_EQ(0u, server.Broadcast(messageId, BODY));
    EXPECT_TRUE(first.heard.WaitForCalls(of106.size()));
    EXPECT_TRUE(both.heard.WaitForCalls(sent.size()));
    EXPECT_TRUE(other.heard.WaitForCalls(1));
    // A second relay of a broadcast, had there been one, left the server
    // before it ended, and reached the listener before its client stopped.
    EXPECT_EQ(0u, server.Quit());
    first.client.Uninitialize(); both.client.Uninitialize(); other.client.Uninitialize();
    EXPECT_EQ(of106, first.Heard());
    EXPECT_EQ(sent, both.Heard());
    EXPECT_EQ(std::vector<uint32_t>{0x01070001}, other.Heard());
}

TEST(RemoteListener, AGoneClientIsDroppedAtTheNextBroadcast) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    std::string pipe;
    {
        Listening gone(server.Pipe(), {0x106});
        ASSERT_TRUE(gone.ok);
        pipe = gone.Pipe();
        ASSERT_TRUE(server.Log().WaitFor("Added remote listener for class 0x0106, client " + pipe));
        ASSERT_EQ(0u, server.Broadcast(0x01060002, BODY));
        ASSERT_TRUE(gone.heard.WaitForCalls(1));
    }
    // The relay finds the notify pipe gone: the listener is dropped, and the
    // controller releases its relay.
    const std::string relayed = "----> Sending IPC notify to client " + pipe;
    ASSERT_EQ(0u, server.Broadcast(0x01060003, BODY));
    EXPECT_TRUE(server.Log().WaitFor("CIpcServer::RemoteListener::~RemoteListener: " + pipe));
    EXPECT_EQ(2u, server.Log().Count(relayed));
    const size_t quiet = server.Log().Count("MessageBroker::BroadcastMessageToListeners: No listeners.");
    ASSERT_EQ(0u, server.Broadcast(0x01060004, BODY));
    EXPECT_TRUE(server.Log().WaitFor("MessageBroker::BroadcastMessageToListeners: No listeners.", 5000, quiet + 1));
}

// The client's rules for what arrives on its notify pipe, called as the
// notify receiver's accept thread calls them.
TEST(RemoteListener, TheClientPassesOnlyWellFormedNotifications) {
    Listening listening(KelTest::UniqueName(L"nobody"), {0x106});
    ASSERT_TRUE(listening.ok);
    const struct Case { uint32_t type; const wchar_t* payload; uint32_t code; } cases[] = {
        {OIPC_NOTIFY, L"{\"n\":", PROVIDER_RESULT_INVALID_PARAMETER},
        {OIPC_REQUEST, L"{}", 0},   // not a notification: passed over
        {OIPC_NOTIFY, L"{\"n\":1,\"text\":\"relayed\"}", 0},
    };
    for (const Case& c : cases) {
        CIpcCommand command;
        EXPECT_EQ(c.code, CIpcClient::NotifyRcvCallback(Fill(command, c.type, 0, 0x01060002, c.payload),
                                                        &listening.client));
    }
    ASSERT_TRUE(listening.heard.WaitForCalls(1));

    // A result record ends the notify receiver's loop, as any listening
    // peer's; the client listens again on the same pipe and still hears.
    KelTest::CapturedLog log;
    ASSERT_TRUE(log.Initialized());
    const std::wstring pipe = listening.client.GetNotifyPipeName();
    CIpcCommand result, notify;
    ASSERT_TRUE(WriteOnce(pipe, Fill(result, OIPC_RESULT, 0, 0x01060003, L"{}").Serialized()));
    EXPECT_TRUE(log.WaitFor("CIpcClient: The accept thread ended without a stop; listening on " + KelTest::Narrow(pipe)));
    const std::vector<BYTE> notification =
        Fill(notify, OIPC_NOTIFY, 0, 0x01060004, KelTest::Widen(BODY.dump())).Serialized();
    EXPECT_TRUE(KelTest::WaitUntil([&] { return WriteOnce(pipe, notification) && listening.heard.WaitForCalls(2, 1000); }));
    listening.client.Uninitialize();   // whatever it was given is delivered by now
    EXPECT_EQ(1u, listening.heard.Count(0x01060002));   // of the first three records, the well-formed one
}
