#include <gtest/gtest.h>

#include "TestProcesses.h"

namespace {
// Holds the query until the test lets it go, well after the asker gave up.
uint32_t NeverAnswer(CIpcCommand&, void* release) {
    ::WaitForSingleObject(static_cast<HANDLE>(release), 60000);
    return 0;
}
} // namespace

// The product's own 30-second limit, with nothing shortened.
TEST(IpcPeerSlow, UnansweredQueryFailsAfterThirtySeconds) {
    QvCommon::Synchronize::Event release;
    ASSERT_TRUE(release.Create());
    CIpcPeer listener;
    const std::wstring pipe = KelTest::UniqueName(L"kelslow");
    listener.SetPipeName(pipe);
    listener.SetCallback(&NeverAnswer, release.Handle());
    ASSERT_EQ(0u, listener.ReceiveStart());
    CIpcPeer sender;
    sender.SetPipeName(pipe);
    CIpcCommand query;
    KelTest::Stopwatch watch;
    EXPECT_EQ(IPC_RESULT_QUERY_TIMED_OUT, sender.Send(Fill(query, OIPC_QUERY, 6, 0x18000022, L"null")));
    EXPECT_GE(watch.ElapsedMs(), 29500);
    EXPECT_LT(watch.ElapsedMs(), 33000);
    release.Set();
    listener.ReceiveStop();
}
