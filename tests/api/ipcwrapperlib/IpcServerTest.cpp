#include <gtest/gtest.h>

#include "IpcServer.h"
#include "TestController.h"
#include "TestProcesses.h"
#include "TestSupport.h"

#include <set>

namespace {

std::wstring Payload(const CIpcCommand& command) {
    std::wstring text;
    command.GetPayloadData(text);
    return text;
}

// A query sent by a bare peer, so that the whole result record can be read.
CIpcCommand& Query(CIpcCommand& query, uint32_t classId, uint32_t messageId, const std::wstring& body) {
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({classId, messageId});
    query.PutPayloadData(body);
    return query;
}

} // namespace

// The rules of the server's callback, one command each, on a server that is
// not listening: the callback is called directly, as the peer's threads do.
TEST(IpcServer, EachCommandTypeBecomesItsControllerCall) {
    KelTest::CapturedLog log;
    TestController controller;
    CIpcServer server;
    ASSERT_EQ(0u, server.Initialize(&controller, KelTest::UniqueName(L"kelrules")));

    struct Case {
        const char* what;
        uint32_t type;
        uint32_t classId;
        uint32_t messageId;
        std::wstring payload;
        uint32_t code;            // the callback's result
        uint32_t typeAfter;       // the record's type afterwards
        std::wstring payloadAfter;
        const char* logged;
    } cases[] = {
        {"query answered", OIPC_QUERY, 0x106, 0x01060001, L"{\"code\":119}", 0x77, OIPC_RESULT, L"{\"ok\":1}",
         "+++++ Function provider returns: [0x77, (8 chars body)]"},
        {"failed send still answered", OIPC_QUERY, 0x106, 0x01060001, L"{\"code\":268435457}", 0x10000001,
         OIPC_RESULT, L"{\"ok\":1}", "----> Sending IPC response to client: [0x10000001, (8 chars body)]"},
        {"query not JSON", OIPC_QUERY, 0x106, 0x01060001, L"{nope", PROVIDER_RESULT_INVALID_PARAMETER, OIPC_QUERY,
         L"{nope", nullptr},
        {"request posted", OIPC_REQUEST, 0x106, 0x01060009, L"{\"a\":1}", 0, OIPC_REQUEST, L"{\"a\":1}",
         "<---- Received IPC command: [0x106, 0x1060009, (7 chars body)]"},
        {"request not JSON", OIPC_REQUEST, 0x106, 0x01060009, L"", PROVIDER_RESULT_INVALID_PARAMETER, OIPC_REQUEST,
         L"", nullptr},
        {"advise in the low 16 bits", OIPC_ADVISE, 0, 0x00120106, L"PIPE-A", 0, OIPC_ADVISE, L"PIPE-A",
         "Added remote listener for class 0x0106, client PIPE-A"},
        {"repeated advise", OIPC_ADVISE, 0, 0x106, L"PIPE-A", 0, OIPC_ADVISE, L"PIPE-A",
         "CIpcServer::AddRemoteListener: (00000106|PIPE-A) is already added."},
        // Refused: a listener without a pipe could never be reached.
        {"advise without pipe name", OIPC_ADVISE, 0, 0x107, L"", PROVIDER_RESULT_INVALID_PARAMETER, OIPC_ADVISE,
         L"", "Refused remote listener without notify pipe name."},
        {"notify is not the server's", OIPC_NOTIFY, 0, 0x01060002, L"{}", IPC_SERVER_UNKNOWN_COMMAND, OIPC_NOTIFY,
         L"{}", "CIpcServer::HandleRcvCallback: Unknown command type: 5"},
        {"type 9", 9, 0x106, 0x01060001, L"{}", IPC_SERVER_UNKNOWN_COMMAND, 9, L"{}",
         "CIpcServer::HandleRcvCallback: Unknown command type: 9"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcCommand command;
        command.SetCommandType(c.type);
        command.SetIpcInfo({c.classId, c.messageId});
        command.PutPayloadData(c.payload);
        const uint32_t sequence = command.GetSequence();
        EXPECT_EQ(c.code, CIpcServer::RcvCallback(command, &server));
        EXPECT_EQ(c.typeAfter, command.GetCommandType());
        EXPECT_EQ(c.payloadAfter, Payload(command));
        EXPECT_EQ(c.classId, command.GetClassId());
        EXPECT_EQ(c.messageId, command.GetMessageId());
        EXPECT_EQ(sequence, command.GetSequence());   // the asker's return pipe is kept
        if (c.typeAfter == OIPC_RESULT) {
            EXPECT_EQ(c.code, command.GetReturnValue());
            EXPECT_EQ(0u, static_cast<uint32_t>(command.GetReturnInfo().value >> 32));
        }
        if (c.logged) {
            EXPECT_TRUE(log.Contains(c.logged)) << c.logged;
        }
    }
    const JsonValue state = controller.State();
    EXPECT_EQ(2u, state["sends"].size());
    ASSERT_EQ(1u, state["posts"].size());
    EXPECT_EQ(JsonValue::parse(R"({"a":1})"), state["posts"][0]["body"]);
    EXPECT_EQ(JsonValue::parse(R"({"262":1})"), state["listeners"]);   // class 0x106, once

    CIpcCommand command;
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER, CIpcServer::RcvCallback(command, nullptr));
    EXPECT_TRUE(log.Contains("CIpcServer::RcvCallback: Invalid parameter."));
}

TEST(IpcServer, LifecycleCallsOutOfOrderAnswerTheirCodes) {
    KelTest::CapturedLog log;
    TestController controller;
    CIpcServer server;
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.Start());
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.Stop());
    EXPECT_EQ(nullptr, server.GetAcceptThread());
    CIpcCommand query;
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.HandleRcvCallback(Query(query, 6, 0x18000001, L"{}")));
    EXPECT_TRUE(log.Contains("CIpcServer::HandleRcvCallback: Provider controller is null."));
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER, server.Initialize(nullptr, L"x"));
    EXPECT_EQ(PROVIDER_RESULT_INVALID_PARAMETER, server.Initialize(&controller, L""));

    ASSERT_EQ(0u, server.Initialize(&controller, KelTest::UniqueName(L"kellife")));
    EXPECT_EQ(nullptr, server.GetAcceptThread());   // Initialize does not listen
    ASSERT_EQ(0u, server.Start());
    EXPECT_NE(nullptr, server.GetAcceptThread());
    EXPECT_EQ(IPC_RESULT_ALREADY_STARTED, server.Start());
    EXPECT_EQ(0u, server.Stop());
    server.Uninitialize();
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, server.Stop());
}

TEST(IpcServer, QueryFromAnotherProcessReturnsTheProvidersBodyCodeAndIds) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    struct Case {
        std::wstring body;
        uint32_t code;
    } cases[] = {
        {L"{\"a\":1}", 0},
        {L"{\"code\":119}", 0x77},
        {L"{\"code\":268435461}", 0x10000005},   // a failure still brings its body
    };
    CIpcPeer asker;
    asker.SetPipeName(server.Pipe());
    for (const Case& c : cases) {
        SCOPED_TRACE(KelTest::Narrow(c.body));
        CIpcCommand query;
        ASSERT_EQ(0u, asker.Send(Query(query, 0x106, 0x01060001, c.body)));
        EXPECT_EQ(OIPC_RESULT, query.GetCommandType());
        EXPECT_EQ(0x106u, query.GetClassId());
        EXPECT_EQ(0x01060001u, query.GetMessageId());
        EXPECT_EQ(c.code, query.GetReturnValue());
        EXPECT_EQ(0u, query.GetStatus());
        EXPECT_EQ(L"{\"ok\":1}", Payload(query));
    }

    // The client's send: the compact text goes out, the reply replaces the body.
    CIpcClient client;
    ASSERT_TRUE(client.Initialize(server.Pipe()));
    JsonValue body = JsonValue::parse(R"({"b":[1,2],"a":1})");
    EXPECT_EQ(0u, client.SendMessageToProvider(0x106, 0x01060004, body));
    EXPECT_EQ(JsonValue::parse(R"({"ok":1})"), body);
    const JsonValue state = server.State();
    ASSERT_EQ(4u, state["sends"].size());
    EXPECT_EQ(JsonValue::parse(R"({"a":1,"b":[1,2]})"), state["sends"][3]["body"]);
    EXPECT_EQ(0x01060004u, state["sends"][3]["messageId"].get<uint32_t>());
    EXPECT_TRUE(server.Log().WaitFor("<---- Received IPC command: [0x106, 0x1060004, (17 chars body)]"));
}

TEST(IpcServer, PostsAndSendsOfSeveralClientProcessesAllArriveOnce) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    const int count = 5;
    std::vector<std::unique_ptr<KelTest::ChildProcess>> clients;
    for (const wchar_t* tag : {L"x", L"y", L"z"})
        clients.emplace_back(new KelTest::ChildProcess(
            L"ipc_client_helper.exe", L"exchange " + server.Pipe() + L" " + tag + L" " + std::to_wstring(count)));
    for (auto& client : clients) EXPECT_EQ(static_cast<DWORD>(count), client->Wait(60000));

    // Posts go out on the clients' pool threads before they end; they are
    // handled on the server's pool, so they may still be arriving.
    JsonValue state;
    for (int i = 0; i < 250; ++i, ::Sleep(20)) {
        state = server.State();
        if (state["posts"].size() >= 3 * count) break;
    }
    for (const char* kind : {"posts", "sends"}) {
        SCOPED_TRACE(kind);
        std::set<std::string> seen;
        for (const JsonValue& message : state[kind]) {
            EXPECT_EQ(0x106u, message["classId"].get<uint32_t>());
            EXPECT_EQ(kind[0] == 'p' ? 0x01060010u : 0x01060011u, message["messageId"].get<uint32_t>());
            seen.insert(message["body"].dump());
        }
        EXPECT_EQ(static_cast<size_t>(3 * count), state[kind].size());
        EXPECT_EQ(static_cast<size_t>(3 * count), seen.size());
    }
}

TEST(IpcServer, BadInputFromAnotherProcessIsRefusedAndTheServerKeepsServing) {
    ServerProcess server;
    ASSERT_TRUE(server.Ready());
    CIpcPeer asker(1000);   // the refused query is left to its watchdog
    asker.SetPipeName(server.Pipe());

    CIpcCommand request;
    request.SetCommandType(OIPC_REQUEST);
    request.SetIpcInfo({0x106, 0x01060009});
    request.PutPayloadData(L"not json");
    ASSERT_EQ(0u, asker.Send(request));
    EXPECT_TRUE(server.Log().WaitFor(
        "CMDQ_RECEIVE_REQUEST Failed to RunCallback(): 0x10000003, ProviderType(262), MessageType(0x01060009)"));

    // The refused query goes back unchanged, still a query, and the asker
    // gives up when its watchdog fires.
    CIpcCommand query;
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, asker.Send(Query(query, 0x106, 0x01060001, L"[1,")));
    EXPECT_TRUE(server.Log().WaitFor("CMDQ_RECEIVE_QUERY Failed to RunCallback(): 0x10000003"));

    CIpcCommand advise;
    advise.SetCommandType(OIPC_ADVISE);
    advise.SetIpcInfo({0, 0x106});
    ASSERT_EQ(0u, asker.Send(advise));
    EXPECT_TRUE(server.Log().WaitFor("Refused remote listener without notify pipe name."));

    // A command type the peer does not know never reaches the server.
    CIpcCommand unknown;
    unknown.SetCommandType(9);
    std::vector<BYTE> bytes(unknown.GetSerializedSize());
    uint32_t capacity = static_cast<uint32_t>(bytes.size());
    ASSERT_TRUE(unknown.Serialize(bytes.data(), capacity));
    {
        CPipeClient raw;
        ASSERT_TRUE(raw.Initial(server.Pipe().c_str()));
        DWORD size = capacity;
        ASSERT_TRUE(raw.Send(bytes.data(), &size));
    }
    EXPECT_TRUE(server.Log().WaitFor("CIpcBuffer::ReceiverProc: Unknown IPC command type: 9"));

    // Nothing reached the provider, and the server still answers.
    const JsonValue state = server.State();
    EXPECT_TRUE(state["posts"].empty());
    EXPECT_TRUE(state["sends"].empty());
    EXPECT_TRUE(state["listeners"].empty());
    CIpcPeer second;
    second.SetPipeName(server.Pipe());
    CIpcCommand good;
    ASSERT_EQ(0u, second.Send(Query(good, 0x106, 0x01060001, L"{}")));
    EXPECT_EQ(L"{\"ok\":1}", Payload(good));
    EXPECT_EQ(0u, server.Quit());
}

TEST(IpcServer, AdviseThatTheControllerRefusesLeavesNoListener) {
    KelTest::CapturedLog log;
    IProviderController refusing;   // answers 0x10000002 to everything
    CIpcServer server;
    ASSERT_EQ(0u, server.Initialize(&refusing, KelTest::UniqueName(L"kelrefuse")));
    for (int attempt = 0; attempt < 2; ++attempt) {
        CIpcCommand advise;
        advise.SetCommandType(OIPC_ADVISE);
        advise.SetIpcInfo({0, 0x106});
        advise.PutPayloadData(L"PIPE-B");
        EXPECT_EQ(PROVIDER_RESULT_NOT_SUPPORTED, CIpcServer::RcvCallback(advise, &server));
    }
    // Both attempts made a listener and dropped it again: none was "already added".
    EXPECT_EQ(2u, log.Count("Failed to add local relay for remote listener: 0x10000002"));
    EXPECT_EQ(2u, log.Count("CIpcServer::RemoteListener::~RemoteListener: PIPE-B"));
    EXPECT_FALSE(log.Contains("is already added."));
}
