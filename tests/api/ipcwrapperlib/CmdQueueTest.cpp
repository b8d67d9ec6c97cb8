#include <gtest/gtest.h>

#include "CmdQueue.h"
#include "TestSupport.h"

#include <atomic>
#include <chrono>

namespace {

// Counts callbacks and how many run at the same time.
struct Probe {
    std::atomic<int> calls{0};
    std::atomic<int> running{0};
    std::atomic<int> maxRunning{0};
    DWORD sleepMs = 0;
};
Probe* s_probe = nullptr;

void SlowCallback(CmdQueueItem&) {
    int now = ++s_probe->running;
    int seen = s_probe->maxRunning;
    while (now > seen && !s_probe->maxRunning.compare_exchange_weak(seen, now)) {}
    ::Sleep(s_probe->sleepMs);
    --s_probe->running;
    ++s_probe->calls;
}

std::wstring QueueName() { return KelTest::UniqueName(L"{queue}"); }

DWORD Elapsed(std::chrono::steady_clock::time_point since) {
    return static_cast<DWORD>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now() - since).count());
}

} // namespace

TEST(CmdQueue, FiveWorkersRunFiveSlowItemsAtOnceAndTheSixthWaits) {
    Probe probe;
    probe.sleepMs = 600;
    s_probe = &probe;
    CmdQueue queue(5, QueueName());
    queue.start(&SlowCallback);
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i) ASSERT_EQ(0, queue.add(1, nullptr));
    ::Sleep(300);
    EXPECT_EQ(5, probe.running.load());   // the sixth waits for a free worker
    EXPECT_EQ(0, queue.stop(5000));
    EXPECT_EQ(6, probe.calls.load());
    EXPECT_EQ(5, probe.maxRunning.load());
    EXPECT_GE(Elapsed(start), 1100u);   // two rounds of 600 ms
}

TEST(CmdQueue, AddAfterStopIsRefusedAndNeverDelivered) {
    Probe probe;
    s_probe = &probe;
    CmdQueue queue(2, QueueName());
    queue.start(&SlowCallback);
    EXPECT_EQ(0, queue.stop(1000));
    EXPECT_EQ(CmdQueue::ADD_REFUSED, queue.add(1, nullptr));
    ::Sleep(100);
    EXPECT_EQ(0, probe.calls.load());
}

TEST(CmdQueue, IdleStopIsImmediateAndBusyStopWaitsAtMostItsTimeOut) {
    Probe probe;
    s_probe = &probe;
    {
        CmdQueue idle(3, QueueName());
        idle.start(&SlowCallback);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, idle.stop(5000));
        EXPECT_LT(Elapsed(start), 500u);
    }
    // One worker, items of 400 ms: after one second of draining the stop event
    // ends the workers, and the items still queued are not delivered.
    probe.sleepMs = 400;
    CmdQueue busy(1, QueueName());
    busy.start(&SlowCallback);
    for (int i = 0; i < 10; ++i) busy.add(1, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, busy.stop(1000));
    EXPECT_LT(Elapsed(start), 1900u);
    EXPECT_LT(probe.calls.load(), 10);
}

TEST(CmdQueue, DataEventIsResetWhenTheLastItemIsTaken) {
    Probe probe;
    s_probe = &probe;
    std::wstring name = QueueName();
    CmdQueue queue(2, name);
    queue.start(&SlowCallback);
    // The events are named in the global namespace with the process id.
    std::wstring dataName = L"Global\\" + name + L"DataArrive" + std::to_wstring(::GetCurrentProcessId());
    QvCommon::UniqueHandle data(::OpenEventW(SYNCHRONIZE, FALSE, dataName.c_str()));
    ASSERT_TRUE(data.valid());
    for (int i = 0; i < 3; ++i) queue.add(1, nullptr);
    for (int i = 0; i < 100 && probe.calls < 3; ++i) ::Sleep(10);
    EXPECT_EQ(3, probe.calls.load());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(data.get(), 0));
    EXPECT_EQ(0, queue.stop(1000));

    // A second queue of the same name in this process gets no events and refuses work.
    CmdQueue twin(1, name);
    EXPECT_FALSE(twin.IsReady());
    EXPECT_EQ(CmdQueue::ADD_REFUSED, twin.add(1, nullptr));
}

namespace {
std::atomic<int> s_discarded{0};
void CountDiscard(CmdQueueItem& item) {
    delete static_cast<int*>(item.parameter);
    ++s_discarded;
}
} // namespace

TEST(CmdQueue, ItemsLeftAtStopGoToTheDiscardProcedure) {
    Probe probe;
    probe.sleepMs = 300;
    s_probe = &probe;
    s_discarded = 0;
    {
        CmdQueue queue(1, QueueName());
        queue.start(&SlowCallback, &CountDiscard);
        for (int i = 0; i < 8; ++i) queue.add(1, new int(i));
        ::Sleep(100);
        queue.stop(0);   // no draining at all
        EXPECT_EQ(0, queue.stop(5000));
    }
    // Delivered items are the callback's to free; this test's callback does not
    // free them, so only the count matters: nothing is both delivered and
    // discarded, and nothing is lost.
    EXPECT_EQ(8, probe.calls.load() + s_discarded.load());
}
