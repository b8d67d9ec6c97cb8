#include <gtest/gtest.h>

#include "IpcCommand.h"
#include "IpcDefs.h"
#include "TestSupport.h"

#include <cstring>
#include <set>
#include <thread>
#include <vector>

namespace {

uint32_t WordAt(const std::vector<BYTE>& bytes, size_t offset) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + offset, sizeof(word));
    return word;
}

std::vector<BYTE> Serialized(const CIpcCommand& command) {
    std::vector<BYTE> bytes(command.GetSerializedSize());
    uint32_t capacity = static_cast<uint32_t>(bytes.size());
    EXPECT_TRUE(command.Serialize(bytes.data(), capacity));
    return bytes;
}

// A header as another process would write it.
std::vector<BYTE> Header(uint32_t first, uint32_t type, uint32_t pid, uint32_t tid, uint32_t seq,
                         uint32_t payloadSize) {
    std::vector<BYTE> bytes(CIpcCommand::HEADER_SIZE, 0);
    auto put = [&](size_t offset, uint32_t value) { std::memcpy(&bytes[offset], &value, 4); };
    put(0, first);
    put(4, type);
    put(12, pid);
    put(16, tid);
    put(20, seq);
    put(32, payloadSize);
    put(36, 0xDEADBEEF);   // the writer's own address: must not be trusted
    return bytes;
}

} // namespace

TEST(IpcCommand, SerializedQueryCarriesHeaderAndPayload) {
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({6, 0x18000005});
    ASSERT_TRUE(query.PutPayloadData(L"{\"a\":1234}"));   // 10 code units
    std::vector<BYTE> bytes = Serialized(query);
    ASSERT_EQ(76u, bytes.size());
    EXPECT_EQ(56u, WordAt(bytes, 0));
    EXPECT_EQ(OIPC_QUERY, WordAt(bytes, 4));
    EXPECT_EQ(::GetCurrentProcessId(), WordAt(bytes, 12));
    EXPECT_EQ(::GetCurrentThreadId(), WordAt(bytes, 16));
    EXPECT_EQ(6u, WordAt(bytes, 24));
    EXPECT_EQ(0x18000005u, WordAt(bytes, 28));
    EXPECT_EQ(20u, WordAt(bytes, 32));
    EXPECT_EQ(0u, WordAt(bytes, 36));   // no address of ours on the wire
    EXPECT_EQ(0, std::memcmp(bytes.data() + 56, L"{\"a\":1234}", 20));

    uint32_t tooSmall = 60;
    EXPECT_FALSE(query.Serialize(bytes.data(), tooSmall));
    EXPECT_EQ(76u, tooSmall);

    CIpcCommand empty;
    EXPECT_EQ(56u, Serialized(empty).size());
}

TEST(IpcCommand, DeserializeChecksIntegrityAndSize) {
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        bool accepted;
    };
    std::vector<BYTE> good = Header(56, OIPC_REQUEST, 1, 2, 3, 8);
    good.resize(64, 'x');
    std::vector<BYTE> wrongMark = good;
    wrongMark[0] = 57;
    std::vector<BYTE> shortPayload = Header(56, OIPC_REQUEST, 1, 2, 3, 8);
    shortPayload.resize(62, 'x');   // header says 8, 6 arrived
    const Case cases[] = {
        {"well formed", good, true},
        {"first word 57", wrongMark, false},
        {"size mismatch", shortPayload, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcCommand command;
        EXPECT_EQ(c.accepted, command.Deserialize(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
        if (c.accepted) {
            EXPECT_EQ(8u, command.GetPayloadSize());
            ASSERT_TRUE(command.HasPayload());
            EXPECT_EQ('x', command.GetPayload()[7]);
        } else {
            // A rejected header leaves the record all zero.
            EXPECT_FALSE(command.IsValid());
            EXPECT_EQ(0u, command.GetCommandType());
            EXPECT_EQ(0u, command.GetProcessId());
            EXPECT_EQ(0u, command.GetPayloadSize());
            EXPECT_FALSE(command.HasPayload());
        }
    }
}

TEST(IpcCommand, ReturnPipeNameComesFromTheIdentityFields) {
    std::vector<BYTE> bytes = Header(56, OIPC_QUERY, 0x1a2c, 0x88, 3, 0);
    CIpcCommand query;
    ASSERT_TRUE(query.Deserialize(bytes.data(), static_cast<uint32_t>(bytes.size())));
    std::wstring name;
    ASSERT_TRUE(query.GetReturnPipeName(name));
    EXPECT_EQ(L"qvipc_1a2c_88_3", name);
}

TEST(IpcCommand, ResultMadeFromQueryKeepsIdentity) {
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({3, 0x11000009});
    query.PutPayloadData(L"{}");
    const uint32_t pid = query.GetProcessId(), tid = query.GetThreadId(), seq = query.GetSequence();

    IPCST_IPCINFO info = query.GetIpcInfo();
    query.Reset();
    query.SetIpcInfo(info);
    query.SetCommandType(OIPC_RESULT);
    query.SetReturnInfo(0x10000003u);
    ASSERT_TRUE(query.PutPayloadData(L"{\"ok\":1}"));

    std::vector<BYTE> bytes = Serialized(query);
    EXPECT_EQ(OIPC_RESULT, WordAt(bytes, 4));
    EXPECT_EQ(pid, WordAt(bytes, 12));
    EXPECT_EQ(tid, WordAt(bytes, 16));
    EXPECT_EQ(seq, WordAt(bytes, 20));
    EXPECT_EQ(3u, WordAt(bytes, 24));
    EXPECT_EQ(0x11000009u, WordAt(bytes, 28));
    EXPECT_EQ(0x10000003u, WordAt(bytes, 48));
    EXPECT_EQ(0u, WordAt(bytes, 52));
}

TEST(IpcCommand, AdviseCarriesClassInMessageField) {
    CIpcCommand advise;
    advise.SetCommandType(OIPC_ADVISE);
    advise.SetIpcInfo({0, 0x0106});
    advise.PutPayloadData(L"A1B2");
    std::vector<BYTE> bytes = Serialized(advise);
    EXPECT_EQ(0u, WordAt(bytes, 24));
    EXPECT_EQ(0x106u, WordAt(bytes, 28));
    EXPECT_EQ(0, std::memcmp(bytes.data() + 56, L"A1B2", 8));
}

TEST(IpcCommand, PayloadIsOwnedOnceAndReadByCodeUnits) {
    CIpcCommand command;
    ASSERT_TRUE(command.PutPayloadData(L""));
    EXPECT_TRUE(command.HasPayload());
    EXPECT_FALSE(command.PutPayloadData(L"second"));   // the first payload stays
    EXPECT_EQ(0u, command.GetPayloadSize());

    std::vector<BYTE> odd = Header(56, OIPC_REQUEST, 1, 1, 1, 7);
    odd.insert(odd.end(), {'a', 0, 'b', 0, 'c', 0, 'd'});
    ASSERT_TRUE(command.Deserialize(odd.data(), static_cast<uint32_t>(odd.size())));
    std::wstring text;
    ASSERT_TRUE(command.GetPayloadData(text));
    EXPECT_EQ(L"abc", text);   // the odd last byte is not read
}

TEST(IpcCommand, SequenceNumbersAreUniqueAcrossThreads) {
    std::vector<std::vector<uint32_t>> seen(4);
    std::vector<std::thread> threads;
    for (auto& list : seen)
        threads.emplace_back([&list] {
            for (int i = 0; i < 500; ++i) list.push_back(CIpcCommand().GetSequence());
        });
    for (auto& t : threads) t.join();
    std::set<uint32_t> all;
    for (auto& list : seen) all.insert(list.begin(), list.end());
    EXPECT_EQ(2000u, all.size());
}

TEST(IpcCommand, FirstRecordOfAProcessCarriesOne) {
    KelTest::ChildProcess child(L"ipc_peer_helper.exe", L"first-sequence");
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(1u, child.Wait(30000));
}
