#include <gtest/gtest.h>

#include "CmdQueue.h"
#include "TestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

// How many items the workers run at once is the peer's and the broker's
// tests: each owns its worker count.
namespace {

// The queue calls a plain function: the probe and the gate live here.
KelTest::ConcurrencyProbe* s_probe = nullptr;
HANDLE s_gate = nullptr;   // when set, each item waits for it (bounded)
std::atomic<int> s_discarded{0};

void HeldCallback(CmdQueueItem&) {
    KelTest::ConcurrencyProbe::Scope inside(*s_probe);
    if (s_gate) ::WaitForSingleObject(s_gate, 30000);
}

void CountDiscard(CmdQueueItem& item) {
    delete static_cast<int*>(item.parameter);
    ++s_discarded;
}

struct QueueTest : ::testing::Test {
    KelTest::ConcurrencyProbe probe;
    QueueTest() { s_probe = &probe; s_gate = nullptr; s_discarded = 0; }
    static std::wstring Name() { return KelTest::UniqueName(L"{queue}"); }
    // The queue's events are named in the global namespace with the process id.
    static HANDLE QueueEvent(const std::wstring& name, const wchar_t* kind) {
        return ::OpenEventW(SYNCHRONIZE, FALSE,
                            (L"Global\\" + name + kind + std::to_wstring(::GetCurrentProcessId())).c_str());
    }
};

} // namespace

// An idle queue stops at once (no one-second drain step) and refuses work
// from then on. A busy one drains for at most its time-out: its one worker is
// held inside an item until the stop event is signalled, after one second,
// and what is left goes to the discard procedure when the queue is destroyed,
// none both delivered and discarded.
TEST_F(QueueTest, StopDrainsForAtMostItsTimeOutAndThenRefusesWork) {
    CmdQueue idle(3, Name());
    idle.start(&HeldCallback);
    KelTest::Stopwatch watch;
    EXPECT_EQ(0, idle.stop(5000));
    EXPECT_LT(watch.ElapsedMs(), 1000);
    EXPECT_EQ(CmdQueue::ADD_REFUSED, idle.add(1, nullptr));
    {
        const std::wstring name = Name();
        CmdQueue busy(1, name);
        QvCommon::UniqueHandle stopEvent(QueueEvent(name, L"Stop"));
        s_gate = stopEvent.get();
        busy.start(&HeldCallback, &CountDiscard);
        for (int i = 0; i < 3; ++i) busy.add(1, new int(i));
        ASSERT_TRUE(KelTest::WaitUntil([&] { return probe.Running() == 1; }));
        watch.Restart();
        EXPECT_EQ(0, busy.stop(1000));
        EXPECT_LT(watch.ElapsedMs(), 10000);   // 30 s per item when the drain is not bounded
        EXPECT_EQ(0, s_discarded.load());      // only the destruction discards
    }
    EXPECT_EQ(1, probe.Entries());
    EXPECT_EQ(2, s_discarded.load());
}

// The workers sleep again once the list is empty: the data event is reset.
TEST_F(QueueTest, DataEventIsResetWhenTheLastItemIsTaken) {
    const std::wstring name = Name();
    CmdQueue queue(2, name);
    queue.start(&HeldCallback);
    QvCommon::UniqueHandle data(QueueEvent(name, L"DataArrive"));
    ASSERT_TRUE(data.valid());
    for (int i = 0; i < 3; ++i) queue.add(1, nullptr);
    EXPECT_TRUE(KelTest::WaitUntil([&] { return probe.Entries() == 3 && probe.Running() == 0; }));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(data.get(), 0));
}

// Items come from several threads at once, in bursts and one by one, while
// the workers are busy, idle or between the two: every item is delivered,
// none is left waiting for a signal that no one gives.
TEST_F(QueueTest, ItemsAddedFromManyThreadsAreAllDelivered) {
    constexpr int PRODUCERS = 4, ITEMS = 500;
    CmdQueue queue(3, Name());
    queue.start(&HeldCallback);
    std::vector<std::thread> producers;
    for (int p = 0; p < PRODUCERS; ++p)
        producers.emplace_back([&queue, p] {
            for (int i = 0; i < ITEMS; ++i) {
                EXPECT_EQ(0, queue.add(1, nullptr));
                if ((i + p) % 50 == 0) ::Sleep(1);   // let the workers run dry now and then
            }
        });
    for (std::thread& producer : producers) producer.join();
    EXPECT_TRUE(KelTest::WaitUntil([&] { return probe.Entries() == PRODUCERS * ITEMS; }))
        << probe.Entries() << " of " << PRODUCERS * ITEMS;
    EXPECT_EQ(0, queue.stop(5000));
}
