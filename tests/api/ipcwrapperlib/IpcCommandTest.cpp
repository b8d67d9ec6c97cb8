#include <gtest/gtest.h>

#include "TestProcesses.h"

#include <algorithm>
#include <set>
#include <thread>

namespace {

// A record as another process writes it, byte by byte, little-endian: the
// words at their wire offsets, then the payload. The same bytes on every
// architecture, so a 32-bit and a 64-bit peer read each other.
std::vector<BYTE> Header(const std::vector<std::pair<size_t, uint32_t>>& words, const std::string& payload) {
    // Sized once: appending to the header trips GCC 12's array-bounds check at -O3.
    std::vector<BYTE> bytes(CIpcCommand::HEADER_SIZE + payload.size(), 0);
    for (const auto& word : words)
        for (int i = 0; i < 4; ++i) bytes[word.first + i] = static_cast<BYTE>(word.second >> (8 * i));
    std::copy(payload.begin(), payload.end(), bytes.begin() + CIpcCommand::HEADER_SIZE);
    return bytes;
}

std::vector<BYTE> Query(uint32_t first, uint32_t payloadSize, const std::string& payload) {
    return Header({{0, first}, {4, OIPC_QUERY}, {8, 0x10020001}, {12, 0x1a2c}, {16, 0x88}, {20, 3}, {24, 6},
                   {28, 0x18000005}, {32, payloadSize}, {36, 0xDEADBEEF},   // the writer's address: not ours
                   {48, 0x10000003}, {52, 0x00ca8560}},
                  payload);
}

std::string Utf16(const std::wstring& text) {
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

} // namespace

// Every byte of the header, and a result made from a query: Reset keeps the
// identity fields, so that the result finds the asker's return pipe.
TEST(IpcCommand, SerializedRecordCarriesHeaderAndPayload) {
    CIpcCommand query;
    Fill(query, OIPC_QUERY, 6, 0x18000005, L"{\"a\":1234}");   // 10 code units
    query.SetStatus(0x10020005);
    std::vector<BYTE> bytes = query.Serialized();
    const uint32_t pid = ::GetCurrentProcessId(), tid = ::GetCurrentThreadId(), seq = query.GetSequence();
    EXPECT_EQ(Header({{0, 56}, {4, OIPC_QUERY}, {8, 0x10020005}, {12, pid}, {16, tid}, {20, seq}, {24, 6},
                      {28, 0x18000005}, {32, 20}}, Utf16(L"{\"a\":1234}")),   // no address of ours
              bytes);
    uint32_t tooSmall = 60;
    EXPECT_FALSE(query.Serialize(bytes.data(), tooSmall));
    EXPECT_EQ(76u, tooSmall);
    EXPECT_EQ(56u, CIpcCommand().Serialized().size());   // an empty record is its header

    const IPCST_IPCINFO info = query.GetIpcInfo();
    query.Reset();
    query.SetIpcInfo(info);
    query.SetCommandType(OIPC_RESULT);
    query.SetReturnInfo(IPCST_RETINFO{0x123456789ABCDEF0ull});   // a receiver's own 64-bit value
    query.SetReturnInfo(0x10000003u);
    ASSERT_TRUE(query.PutPayloadData(L"{\"ok\":1}"));
    EXPECT_EQ(Header({{0, 56}, {4, OIPC_RESULT}, {12, pid}, {16, tid}, {20, seq}, {24, 6}, {28, 0x18000005},
                      {32, 16}, {48, 0x10000003}}, Utf16(L"{\"ok\":1}")),   // the return value's high half is not sent
              query.Serialized());
}

TEST(IpcCommand, DeserializeChecksIntegrityAndSizeAndNamesTheReturnPipe) {
    const struct Case { const char* what; std::vector<BYTE> bytes; bool accepted; } cases[] = {
        {"well formed", Query(56, 8, "xxxxxxxx"), true},
        {"first word 57", Query(57, 8, "xxxxxxxx"), false},
        {"size mismatch: header says 8, 6 arrived", Query(56, 8, "xxxxxx"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CIpcCommand command;
        EXPECT_EQ(c.accepted, command.Deserialize(c.bytes.data(), static_cast<uint32_t>(c.bytes.size())));
        // A rejected header leaves the record all zero.
        EXPECT_EQ(c.accepted, command.IsValid());
        EXPECT_EQ(c.accepted ? OIPC_QUERY : 0u, command.GetCommandType());
        EXPECT_EQ(c.accepted ? 0x10020001u : 0u, command.GetStatus());
        EXPECT_EQ(c.accepted ? 0x1a2cu : 0u, command.GetProcessId());
        EXPECT_EQ(c.accepted ? 6u : 0u, command.GetClassId());
        EXPECT_EQ(c.accepted ? 0x18000005u : 0u, command.GetMessageId());
        EXPECT_EQ(c.accepted ? 8u : 0u, command.GetPayloadSize());
        EXPECT_EQ(c.accepted ? 0x00ca856010000003ull : 0u, command.GetReturnInfo().value);
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
