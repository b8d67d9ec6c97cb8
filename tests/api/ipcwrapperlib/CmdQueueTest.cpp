#include <gtest/gtest.h>

#include "CmdQueue.h"
#include "TestSupport.h"

#include <atomic>

// How many items the workers run at once is the peer's and the broker's
// tests: each owns its worker count.
namespace {

// The queue calls a plain function: the probe and the item time live here.
KelTest::ConcurrencyProbe* s_probe = nullptr;
DWORD s_sleepMs = 0;
std::atomic<int> s_discarded{0};

void SlowCallback(CmdQueueItem&) {
    KelTest::ConcurrencyProbe::Scope inside(*s_probe);
    ::Sleep(s_sleepMs);
}

void CountDiscard(CmdQueueItem& item) {
    delete static_cast<int*>(item.parameter);
    ++s_discarded;
}

struct QueueTest : ::testing::Test {
    KelTest::ConcurrencyProbe probe;
    QueueTest() {
        s_probe = &probe;
        s_sleepMs = 0;
        s_discarded = 0;
    }
    static std::wstring Name() { return KelTest::UniqueName(L"{queue}"); }
};

} // namespace

// An idle queue stops at once and refuses work from then on. A busy one
// drains for at most its time-out (one worker, items of 400 ms: after one
// second the stop event ends the workers), and what is left is not delivered.
TEST_F(QueueTest, StopDrainsForAtMostItsTimeOutAndThenRefusesWork) {
    CmdQueue idle(3, Name());
    idle.start(&SlowCallback);
    KelTest::Stopwatch watch;
    EXPECT_EQ(0, idle.stop(5000));
    EXPECT_LT(watch.ElapsedMs(), 500);
    EXPECT_EQ(CmdQueue::ADD_REFUSED, idle.add(1, nullptr));
    s_sleepMs = 400;
    CmdQueue busy(1, Name());
    busy.start(&SlowCallback);
    for (int i = 0; i < 10; ++i) busy.add(1, nullptr);
    watch.Restart();
    EXPECT_EQ(0, busy.stop(1000));
    EXPECT_LT(watch.ElapsedMs(), 1900);
    EXPECT_LT(probe.Entries(), 10);
}

// The workers sleep again once the list is empty: the data event is reset.
TEST_F(QueueTest, DataEventIsResetWhenTheLastItemIsTaken) {
    const std::wstring name = Name();
    CmdQueue queue(2, name);
    queue.start(&SlowCallback);
    // The events are named in the global namespace with the process id.
    const std::wstring dataName = L"Global\\" + name + L"DataArrive" + std::to_wstring(::GetCurrentProcessId());
    QvCommon::UniqueHandle data(::OpenEventW(SYNCHRONIZE, FALSE, dataName.c_str()));
    ASSERT_TRUE(data.valid());
    for (int i = 0; i < 3; ++i) queue.add(1, nullptr);
    EXPECT_TRUE(KelTest::WaitUntil([&] { return probe.Entries() == 3 && probe.Running() == 0; }));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(data.get(), 0));
}

TEST_F(QueueTest, ItemsLeftAtStopGoToTheDiscardProcedure) {
    s_sleepMs = 300;
    {
        CmdQueue queue(1, Name());
        queue.start(&SlowCallback, &CountDiscard);
        for (int i = 0; i < 8; ++i) queue.add(1, new int(i));
        ::Sleep(100);
        EXPECT_EQ(CmdQueue::STOP_TIMED_OUT, queue.stop(0));   // no draining, and the worker is busy
        EXPECT_EQ(0, queue.stop(5000));
        EXPECT_EQ(0, s_discarded.load());   // only the destruction discards
    }
    // The one worker took at most one item before the stop; every other one
    // is discarded, none both delivered and discarded.
    EXPECT_LE(probe.Entries(), 1);
    EXPECT_EQ(8, probe.Entries() + s_discarded.load());
}
