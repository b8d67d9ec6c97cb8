#include <gtest/gtest.h>

#include "MessageBroker.h"
#include "TestSupport.h"

#include <stdexcept>

using KelTest::ListenerRecorder;

namespace {

const JsonValue BODY = JsonValue::parse(R"({"list":[1,2,3],"name":"x"})");

// Every listener outlives its broker: the broker's Stop calls each one last.
struct Broker : ::testing::Test {
    ListenerRecorder a, b, c, d;
    MessageBroker broker;
    void SetUp() override { ASSERT_TRUE(broker.Start()); }
    uint32_t Listen(ListenerRecorder& recorder, uint32_t classId = 0x106) {
        return broker.AddMessageListener(classId, recorder.Proc(), &recorder);
    }
    uint32_t Remove(ListenerRecorder& recorder, uint32_t classId = 0x106) {
        return broker.RemoveMessageListener(classId, recorder.Proc(), &recorder);
    }
    uint32_t Broadcast(uint32_t messageId) { return broker.BroadcastMessageToListeners(messageId, BODY); }
};

} // namespace

// Each listener is held until the test lets it go: the fourth call can only
// be made by the first speaker that is free again.
TEST_F(Broker, ThreeSpeakersCallListenersAtOnceAndAFourthCallWaits) {
    KelTest::ConcurrencyProbe overlap;
    QvCommon::Synchronize::Event gates[4];
    ListenerRecorder* recorders[] = {&a, &b, &c, &d};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(gates[i].Create());
        recorders[i]->HoldOn(gates[i].Handle());
        recorders[i]->CountOverlapIn(&overlap);
        ASSERT_EQ(0u, Listen(*recorders[i]));
    }
    ASSERT_EQ(0u, Broadcast(0x01060001));   // returns while every listener is held
    ASSERT_TRUE(KelTest::WaitUntil([&] { return overlap.Running() == 3; }));
    ASSERT_TRUE(gates[0].Set() && KelTest::WaitUntil([&] { return overlap.Entries() == 4; }));
    for (auto& gate : gates) gate.Set();
    for (ListenerRecorder* recorder : recorders) ASSERT_TRUE(recorder->WaitForCalls(1));
    EXPECT_EQ(static_cast<int>(BROKER_SPEAKER_THREADS), overlap.MaxRunning());
    EXPECT_EQ(a.Calls()[0].threadId, d.Calls()[0].threadId);
}

TEST_F(Broker, ThePairIsHeldOnceAndRemovingItReleasesItOnASpeakerThread) {
    ASSERT_TRUE(Listen(a) == 0 && Listen(a) == 0);
    ASSERT_EQ(0u, Broadcast(0x01060003));
    ASSERT_TRUE(a.WaitForCalls(1));
    ASSERT_EQ(0u, Remove(a));
    ASSERT_TRUE(KelTest::WaitUntil([&] { return a.Releases() == 1; }));
    EXPECT_NE(::GetCurrentThreadId(), a.ReleaseThread());
    // Removing what is not registered changes nothing.
    EXPECT_EQ(0u, Remove(a));
    EXPECT_EQ(0u, Broadcast(0x01060004));
    broker.Stop();   // after every queued call; no second release: the pair is gone
    EXPECT_EQ(1u, a.Calls().size());
    EXPECT_EQ(1, a.Releases());
}

// Calls on a broker that is not started answer 0x10000005 and change nothing.
TEST_F(Broker, StopReleasesEveryPairOnceOnTheStoppingThreadAndLaterCallsFail) {
    ASSERT_TRUE(Listen(a) == 0 && Listen(b) == 0 && Listen(c, 0x107) == 0);
    broker.Stop();
    for (ListenerRecorder* recorder : {&a, &b, &c}) {
        EXPECT_TRUE(recorder->Calls().empty());
        EXPECT_EQ(1, recorder->Releases());
        EXPECT_EQ(::GetCurrentThreadId(), recorder->ReleaseThread());
    }
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, Listen(a));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, Remove(a));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, Broadcast(0x01060002));
    broker.Stop();   // nothing to stop, nothing to release
    EXPECT_EQ(1, a.Releases());
}

TEST(MessageBroker, StopThatTimesOutKeepsTheSpeakersAndStillReleasesListeners) {
    KelTest::CapturedLog log;
    QvCommon::Synchronize::Event release;
    ASSERT_TRUE(release.Create());
    ListenerRecorder stuck;
    stuck.HoldOn(release.Handle());
    {
        MessageBroker broker(300);
        ASSERT_TRUE(broker.Start());
        ASSERT_EQ(0u, broker.AddMessageListener(0x106, stuck.Proc(), &stuck));
        ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060006, BODY));
        ASSERT_TRUE(KelTest::WaitUntil([&] { return stuck.Probe().Running() == 1; }));   // the speaker is inside
        broker.Stop();
        EXPECT_TRUE(log.Contains("MessageBroker::Stop: CmdQueue::stop() timed out."));
        EXPECT_EQ(1, stuck.Releases());   // on this thread
        EXPECT_EQ(::GetCurrentThreadId(), stuck.ReleaseThread());
        ASSERT_TRUE(broker.Start());   // a new speaker queue
        release.Set();
    }   // the kept queue ends with its listener
    ASSERT_TRUE(stuck.WaitForCalls(1));
    EXPECT_EQ(0x01060006u, stuck.Calls()[0].messageId);
}

namespace {
void Throw(void*, uint32_t messageId, JsonValue&) {
    if (messageId != 0) throw std::runtime_error("listener failed");
}
} // namespace

// A listener that throws costs its own call only: the speaker logs it and
// goes on with the next call.
TEST_F(Broker, AListenerThatThrowsDoesNotEndItsSpeaker) {
    KelTest::CapturedLog log;
    ASSERT_TRUE(broker.AddMessageListener(0x106, &Throw, nullptr) == 0 && Listen(a) == 0);
    for (uint32_t i = 0; i < 2 * BROKER_SPEAKER_THREADS; ++i) ASSERT_EQ(0u, Broadcast(0x01060008));
    EXPECT_TRUE(a.WaitForCalls(2 * BROKER_SPEAKER_THREADS));
    EXPECT_TRUE(log.WaitFor("CmdQueue::WorkerProc: Exception caught: listener failed", 5000,
                            2 * BROKER_SPEAKER_THREADS));
}
