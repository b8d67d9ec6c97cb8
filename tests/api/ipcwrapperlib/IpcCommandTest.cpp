#include <gtest/gtest.h>

#include "TestProcesses.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>

namespace {

uint32_t WordAt(const std::vector<BYTE>& bytes, size_t offset) {
    uint32_t word;
    std::memcpy(&word, bytes.data() + offset, sizeof(word));
    return word;
}

// A header as another process would write it, then the payload bytes.
std::vector<BYTE> Header(uint32_t first, uint32_t pid, uint32_t tid, uint32_t seq, uint32_t payloadSize,
                         const std::string& payload = std::string()) {
    // Sized once: appending to the header trips GCC 12's array-bounds check at -O3.
    std::vector<BYTE> bytes(CIpcCommand::HEADER_SIZE + payload.size(), 0);
    const uint32_t words[][2] = {{0, first}, {4, OIPC_QUERY}, {12, pid}, {16, tid}, {20, seq}, {32, payloadSize},
                                 {36, 0xDEADBEEF}};   // the writer's own address: must not be trusted
    for (const auto& word : words) std::memcpy(&bytes[word[0]], &word[1], 4);
    std::copy(payload.begin(), payload.end(), bytes.begin() + CIpcCommand::HEADER_SIZE);
    return bytes;
}

} // namespace

// The wire layout, and a result made from a query: Reset keeps the identity
// fields, so that the result finds the asker's return pipe.
TEST(IpcCommand, SerializedRecordCarriesHeaderAndPayload) {
    CIpcCommand query;
    Fill(query, OIPC_QUERY, 6, 0x18000005, L"{\"a\":1234}");   // 10 code units
    std::vector<BYTE> bytes = Serialized(query);
    ASSERT_EQ(76u, bytes.size());
    const uint32_t expected[][2] = {{0, 56}, {4, OIPC_QUERY}, {12, ::GetCurrentProcessId()},
                                    {16, ::GetCurrentThreadId()}, {24, 6}, {28, 0x18000005}, {32, 20},
                                    {36, 0}};   // no address of ours on the wire
    for (const auto& word : expected) EXPECT_EQ(word[1], WordAt(bytes, word[0])) << "offset " << word[0];
    EXPECT_EQ(0, std::memcmp(bytes.data() + 56, L"{\"a\":1234}", 20));
    uint32_t tooSmall = 60;
    EXPECT_FALSE(query.Serialize(bytes.data(), tooSmall));
    EXPECT_EQ(76u, tooSmall);
    EXPECT_EQ(56u, Serialized(CIpcCommand()).size());   // an empty record is its header

    const uint32_t seq = query.GetSequence();
    const IPCST_IPCINFO info = query.GetIpcInfo();
    query.Reset();
    query.SetIpcInfo(info);
    query.SetCommandType(OIPC_RESULT);
    query.SetReturnInfo(0x10000003u);
    ASSERT_TRUE(query.PutPayloadData(L"{\"ok\":1}"));
    bytes = Serialized(query);
    const uint32_t result[][2] = {{4, OIPC_RESULT}, {12, ::GetCurrentProcessId()}, {16, ::GetCurrentThreadId()},
                                  {20, seq}, {24, 6}, {28, 0x18000005}, {48, 0x10000003}, {52, 0}};
    for (const auto& word : result) EXPECT_EQ(word[1], WordAt(bytes, word[0])) << "offset " << word[0];
}

TEST(IpcCommand, DeserializeChecksIntegrityAndSizeAndNamesTheReturnPipe) {
    const struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        bool accepted;
    } cases[] = {
        {"well formed", Header(56, 0x1a2c, 0x88, 3, 8, "xxxxxxxx"), true},
        {"first word 57", Header(57, 0x1a2c, 0x88, 3, 8, "xxxxxxxx"), false},
        {"size mismatch: header says 8, 6 arrived", Header(56, 0x1a2c, 0x88, 3, 8, "xxxxxx"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcCommand command;
        EXPECT_EQ(c.accepted, command.Deserialize(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
        // A rejected header leaves the record all zero.
        EXPECT_EQ(c.accepted, command.IsValid());
        EXPECT_EQ(c.accepted ? OIPC_QUERY : 0u, command.GetCommandType());
        EXPECT_EQ(c.accepted ? 0x1a2cu : 0u, command.GetProcessId());
        EXPECT_EQ(c.accepted ? 8u : 0u, command.GetPayloadSize());
        ASSERT_EQ(c.accepted, command.HasPayload());
        if (!c.accepted) continue;
        EXPECT_EQ('x', command.GetPayload()[7]);
        std::wstring name;   // the return pipe comes from the identity fields
        ASSERT_TRUE(command.GetReturnPipeName(name));
        EXPECT_EQ(L"qvipc_1a2c_88_3", name);
    }
}

TEST(IpcCommand, SequenceNumbersAreUniqueAcrossThreadsAndTheFirstOfAProcessIsOne) {
    std::vector<std::vector<uint32_t>> seen(4);
    std::vector<std::thread> threads;
    for (auto& list : seen)
        threads.emplace_back([&list] { for (int i = 0; i < 500; ++i) list.push_back(CIpcCommand().GetSequence()); });
    for (auto& t : threads) t.join();
    std::set<uint32_t> all;
    for (auto& list : seen) all.insert(list.begin(), list.end());
    EXPECT_EQ(2000u, all.size());
    KelTest::ChildProcess child(L"ipc_helper.exe", L"first-sequence");
    EXPECT_EQ(1u, child.Wait(KelTest::CHILD_START_MS));
}
