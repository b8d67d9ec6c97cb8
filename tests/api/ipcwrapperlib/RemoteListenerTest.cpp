#include <gtest/gtest.h>

#include "IpcServer.h"
#include "TestProcesses.h"
#include "TestSupport.h"

#include <algorithm>

namespace {

// Long enough for a second relay of the same broadcast, had there been one,
// to reach the listener.
constexpr DWORD SETTLE_MS = 400;

const JsonValue BODY = JsonValue::parse(R"({"n":1,"text":"relayed"})");

std::string Line(const char* listenerClass, const char* messageId) {
    return std::string(listenerClass) + " " + messageId + " " + BODY.dump();
}

} // namespace

TEST(RemoteListener, BroadcastReachesTheRightListenerOfAnotherProcessExactlyOnce) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    ListenerProcess client(server.Pipe(), L"106,107");
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(server.WaitForListeners(0x106, 1));
    ASSERT_TRUE(server.WaitForListeners(0x107, 1));

    // One notify receiver, and both advises carry its pipe name.
    const std::string pipe = client.NotifyPipe();
    ASSERT_EQ(36u, pipe.size());
    EXPECT_EQ(1u, client.Log().Count("CIpcClient::AddMessageListener: Starting IPC notify receiver"));
    EXPECT_TRUE(client.Log().Contains("====> Sending IPC advise: [0x106, \"" + pipe + "\"] to " +
                                      KelTest::Narrow(server.Pipe())));
    EXPECT_TRUE(client.Log().Contains("====> Sending IPC advise: [0x107, \"" + pipe + "\"]"));
    EXPECT_TRUE(server.Log().Contains("Added remote listener for class 0x0106, client " + pipe));
    EXPECT_TRUE(server.Log().Contains("Added remote listener for class 0x0107, client " + pipe));

    ASSERT_EQ(0u, server.Broadcast(0x01060002, BODY));
    ASSERT_TRUE(client.WaitForCalls(1));
    ::Sleep(SETTLE_MS);
    EXPECT_EQ(std::vector<std::string>{Line("106", "1060002")}, client.Calls());
    EXPECT_EQ(1u, server.Log().Count("----> Sending IPC notify to client " + pipe));
    EXPECT_EQ(1u, client.Quit());
}

TEST(RemoteListener, SecondAdviseKeepsOneListenerAndAGoneClientIsDroppedAtTheNextBroadcast) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    ListenerProcess client(server.Pipe(), L"106,106");   // the same listener twice: two advises
    ASSERT_TRUE(client.Ready());
    const std::string pipe = client.NotifyPipe();
    const std::string key = "(00000106|" + pipe + ") is already added.";
    ASSERT_TRUE(server.Log().WaitFor(key));
    EXPECT_EQ(2u, client.Log().Count("====> Sending IPC advise: [0x106"));
    EXPECT_EQ(1, server.ListenerCount(0x106));

    ASSERT_EQ(0u, server.Broadcast(0x01060002, BODY));
    ASSERT_TRUE(client.WaitForCalls(1));
    ::Sleep(SETTLE_MS);
    EXPECT_EQ(1u, client.Calls().size());
    EXPECT_EQ(1u, client.Quit());

    // The relay finds the notify pipe gone: the listener is dropped, and the
    // controller releases its relay.
    const std::string relayed = "----> Sending IPC notify to client " + pipe;
    ASSERT_EQ(0u, server.Broadcast(0x01060003, BODY));
    EXPECT_TRUE(server.Log().WaitFor("CIpcServer::RemoteListener::RelayMessage: Remote listener " + pipe +
                                     " was closed."));
    EXPECT_TRUE(server.Log().WaitFor("CIpcServer::RemoteListener::~RemoteListener: " + pipe));
    EXPECT_TRUE(server.WaitForListeners(0x106, 0));
    EXPECT_EQ(2u, server.Log().Count(relayed));

    const size_t quiet = server.Log().Count("MessageBroker::BroadcastMessageToListeners: No listeners.");
    ASSERT_EQ(0u, server.Broadcast(0x01060004, BODY));
    EXPECT_TRUE(server.Log().WaitFor("MessageBroker::BroadcastMessageToListeners: No listeners.", 5000, quiet + 1));
    EXPECT_EQ(2u, server.Log().Count(relayed));
}

TEST(RemoteListener, EveryListeningProcessReceivesEveryBroadcastOfItsClass) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    ListenerProcess first(server.Pipe(), L"106");
    ListenerProcess second(server.Pipe(), L"106,108");
    ListenerProcess third(server.Pipe(), L"108");
    for (ListenerProcess* client : {&first, &second, &third}) ASSERT_TRUE(client->Ready());
    ASSERT_TRUE(server.WaitForListeners(0x106, 2));
    ASSERT_TRUE(server.WaitForListeners(0x108, 2));

    const int broadcasts = 5;
    for (int i = 0; i < broadcasts; ++i) ASSERT_EQ(0u, server.Broadcast(0x01060000 + i, BODY));
    EXPECT_TRUE(first.WaitForCalls(broadcasts));
    EXPECT_TRUE(second.WaitForCalls(broadcasts));
    ::Sleep(SETTLE_MS);
    for (ListenerProcess* client : {&first, &second}) {
        std::vector<std::string> calls = client->Calls();
        std::sort(calls.begin(), calls.end());   // speakers finish in any order
        ASSERT_EQ(static_cast<size_t>(broadcasts), calls.size());
        for (int i = 0; i < broadcasts; ++i) EXPECT_EQ(Line("106", ("106000" + std::to_string(i)).c_str()), calls[i]);
    }
    EXPECT_TRUE(third.Calls().empty());
    for (ListenerProcess* client : {&first, &second}) EXPECT_EQ(static_cast<DWORD>(broadcasts), client->Quit());
}

TEST(RemoteListener, BadNotificationsAreDroppedAndTheReceiverKeepsListening) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    ListenerProcess client(server.Pipe(), L"106");
    ASSERT_TRUE(client.Ready());
    ASSERT_TRUE(server.WaitForListeners(0x106, 1));

    CIpcPeer intruder;
    intruder.SetPipeName(KelTest::Widen(client.NotifyPipe()));
    struct Case {
        uint32_t type;
        const wchar_t* payload;
        const char* logged;
    } cases[] = {
        {OIPC_NOTIFY, L"{\"n\":", "CIpcBuffer::ReceiverProc: RunCallback() failed: 0x10000003"},
        {OIPC_REQUEST, L"{}", "CIpcClient::HandleNotifyRcvCallback: Unsupported command type: 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        CIpcCommand command;
        command.SetCommandType(c.type);
        command.SetIpcInfo({0, 0x01060002});
        command.PutPayloadData(c.payload);
        ASSERT_EQ(0u, intruder.Send(command));
        EXPECT_TRUE(client.Log().WaitFor(c.logged));
    }
    ASSERT_EQ(0u, server.Broadcast(0x01060002, BODY));
    ASSERT_TRUE(client.WaitForCalls(1));
    ::Sleep(SETTLE_MS);
    EXPECT_EQ(std::vector<std::string>{Line("106", "1060002")}, client.Calls());
}
