#include <gtest/gtest.h>

#include "IpcPeer.h"
#include "TestSupport.h"

#include <chrono>

namespace {
// Holds the query until the test lets it go, well after the asker gave up.
uint32_t NeverAnswer(CIpcCommand&, void* release) {
    ::WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
    return 0;
}
} // namespace

// The product's own 30-second limit, with nothing shortened.
TEST(IpcPeerSlow, UnansweredQueryFailsAfterThirtySeconds) {
    QvCommon::Synchronize::Event release;
    ASSERT_TRUE(release.Create());
    CIpcPeer listener;
    std::wstring pipe = KelTest::UniqueName(L"kelslow");
    listener.SetPipeName(pipe);
    listener.SetCallback(&NeverAnswer, release.Handle());
    ASSERT_EQ(0u, listener.ReceiveStart());

    CIpcPeer sender;
    sender.SetPipeName(pipe);
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({6, 0x18000022});
    query.PutPayloadData(L"null");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, sender.Send(query));
    auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - start).count() / 1000.0;
    EXPECT_GE(seconds, 29.5);
    EXPECT_LT(seconds, 33.0);
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, query.GetStatus());
    release.Set();
    listener.ReceiveStop();
}
