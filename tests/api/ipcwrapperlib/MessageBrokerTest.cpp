#include <gtest/gtest.h>

#include "MessageBroker.h"
#include "TestSupport.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

// What one listener was called with, and on which threads.
struct Call {
    uint32_t messageId;
    JsonValue body;
    DWORD threadId;
};

struct Recorder {
    std::mutex lock;
    std::vector<Call> calls;
    DWORD sleepMs = 0;
    HANDLE block = nullptr;                 // waited on in every call when set
    std::atomic<int>* running = nullptr;    // shared by listeners that count overlap
    std::atomic<int>* maxRunning = nullptr;

    std::vector<Call> Calls() {
        std::lock_guard<std::mutex> guard(lock);
        return calls;
    }
    bool WaitForCalls(size_t count, DWORD timeoutMs = 5000) {
        for (DWORD waited = 0; Calls().size() < count; waited += 10) {
            if (waited >= timeoutMs) return false;
            ::Sleep(10);
        }
        return true;
    }
};

void Listen(void* context, uint32_t messageId, JsonValue& body) {
    auto* recorder = static_cast<Recorder*>(context);
    if (recorder->running) {
        int now = ++*recorder->running;
        int seen = *recorder->maxRunning;
        while (now > seen && !recorder->maxRunning->compare_exchange_weak(seen, now)) {}
    }
    if (messageId != 0 && recorder->block) ::WaitForSingleObject(recorder->block, INFINITE);
    if (messageId != 0) ::Sleep(recorder->sleepMs);
    if (recorder->running) --*recorder->running;
    std::lock_guard<std::mutex> guard(recorder->lock);
    recorder->calls.push_back(Call{messageId, body, ::GetCurrentThreadId()});
}

const JsonValue BODY = JsonValue::parse(R"({"list":[1,2,3],"name":"x"})");

} // namespace

// Every listener outlives its broker: the broker's Stop calls each one last.

TEST(MessageBroker, CallsBeforeStartAnswerNotInitialised) {
    Recorder recorder;
    MessageBroker broker;
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.AddMessageListener(0x106, &Listen, &recorder));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.RemoveMessageListener(0x106, &Listen, &recorder));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.BroadcastMessageToListeners(0x01060002, BODY));
    broker.Stop();   // nothing to stop
    EXPECT_TRUE(recorder.Calls().empty());
}

TEST(MessageBroker, EachListenerOfTheClassIsCalledOnceWithAnEqualCopy) {
    KelTest::CapturedLog log;
    Recorder first, second, otherClass;
    MessageBroker broker;
    ASSERT_TRUE(broker.Start());
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &first));
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &second));
    ASSERT_EQ(0u, broker.AddMessageListener(0x108, &Listen, &otherClass));

    JsonValue body = BODY;
    ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060002, body));
    body["name"] = "changed at once";   // the broker holds copies
    body.clear();
    ASSERT_TRUE(first.WaitForCalls(1));
    ASSERT_TRUE(second.WaitForCalls(1));
    EXPECT_EQ(2u, log.Count("MessageBroker::BroadcastMessageToListeners: Added to command queue."));

    EXPECT_EQ(0u, broker.BroadcastMessageToListeners(0x01070002, BODY));
    EXPECT_TRUE(log.WaitFor("MessageBroker::BroadcastMessageToListeners: No listeners."));
    ::Sleep(200);   // a stray call would have come by now
    for (Recorder* recorder : {&first, &second}) {
        std::vector<Call> calls = recorder->Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(0x01060002u, calls[0].messageId);
        EXPECT_EQ(BODY, calls[0].body);
        EXPECT_NE(::GetCurrentThreadId(), calls[0].threadId);   // a speaker thread
    }
    EXPECT_TRUE(otherClass.Calls().empty());
}

TEST(MessageBroker, ThreeSpeakersCallListenersAtOnceAndAFourthCallWaits) {
    std::atomic<int> running{0}, maxRunning{0};
    Recorder recorders[4];
    MessageBroker broker;
    ASSERT_TRUE(broker.Start());
    for (Recorder& recorder : recorders) {
        recorder.sleepMs = 400;
        recorder.running = &running;
        recorder.maxRunning = &maxRunning;
        ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &recorder));
    }
    // The broadcaster does not wait for any of them.
    DWORD before = ::GetTickCount();
    ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060001, BODY));
    EXPECT_LT(::GetTickCount() - before, 200u);
    for (Recorder& recorder : recorders) ASSERT_TRUE(recorder.WaitForCalls(1));
    EXPECT_EQ(static_cast<int>(BROKER_SPEAKER_THREADS), maxRunning.load());
}

TEST(MessageBroker, ThePairIsHeldOnceAndRemovingItReleasesItOnASpeakerThread) {
    Recorder recorder;
    MessageBroker broker;
    ASSERT_TRUE(broker.Start());
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &recorder));
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &recorder));
    ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060003, BODY));
    ASSERT_TRUE(recorder.WaitForCalls(1));

    ASSERT_EQ(0u, broker.RemoveMessageListener(0x106, &Listen, &recorder));
    ASSERT_TRUE(recorder.WaitForCalls(2));
    // Removing what is not registered changes nothing.
    EXPECT_EQ(0u, broker.RemoveMessageListener(0x106, &Listen, &recorder));
    EXPECT_EQ(0u, broker.RemoveMessageListener(0x999, &Listen, &recorder));
    EXPECT_EQ(0u, broker.BroadcastMessageToListeners(0x01060004, BODY));
    ::Sleep(200);
    broker.Stop();   // no second release: the pair is gone

    std::vector<Call> calls = recorder.Calls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(0x01060003u, calls[0].messageId);
    EXPECT_EQ(0u, calls[1].messageId);
    EXPECT_TRUE(calls[1].body.is_null());
    EXPECT_NE(::GetCurrentThreadId(), calls[1].threadId);
}

TEST(MessageBroker, StopReleasesEveryPairOnceOnTheStoppingThreadAndLaterCallsFail) {
    KelTest::CapturedLog log;
    Recorder a, b, c;
    MessageBroker broker;
    ASSERT_TRUE(broker.Start());
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &a));
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &b));
    ASSERT_EQ(0u, broker.AddMessageListener(0x107, &Listen, &c));
    broker.Stop();
    for (Recorder* recorder : {&a, &b, &c}) {
        std::vector<Call> calls = recorder->Calls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(0u, calls[0].messageId);
        EXPECT_TRUE(calls[0].body.is_null());
        EXPECT_EQ(::GetCurrentThreadId(), calls[0].threadId);
    }
    EXPECT_TRUE(log.Contains("MessageBroker::Stop: About to release all listeners"));
    EXPECT_TRUE(log.Contains("MessageBroker::Stop: Finished."));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.BroadcastMessageToListeners(0x01060002, BODY));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.AddMessageListener(0x106, &Listen, &a));
    EXPECT_EQ(PROVIDER_RESULT_NOT_INITIALIZED, broker.RemoveMessageListener(0x106, &Listen, &a));
    broker.Stop();   // a second Stop releases nothing more
    EXPECT_EQ(1u, a.Calls().size());
}

TEST(MessageBroker, RestartsAfterStopWithAnEmptyRegistry) {
    Recorder before, after;
    MessageBroker broker;
    ASSERT_TRUE(broker.Start());
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &before));
    broker.Stop();
    ASSERT_TRUE(broker.Start());
    ASSERT_TRUE(broker.Start());   // started already
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &after));
    ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060005, BODY));
    ASSERT_TRUE(after.WaitForCalls(1));
    EXPECT_EQ(0x01060005u, after.Calls()[0].messageId);
    ::Sleep(100);
    EXPECT_EQ(1u, before.Calls().size());   // only its release call
}

TEST(MessageBroker, StopThatTimesOutKeepsTheSpeakersAndStillReleasesListeners) {
    KelTest::CapturedLog log;
    QvCommon::Synchronize::Event release;
    ASSERT_TRUE(release.Create());
    Recorder stuck;
    stuck.block = release.Handle();
    {
        MessageBroker broker(300);
        ASSERT_TRUE(broker.Start());
        ASSERT_EQ(0u, broker.AddMessageListener(0x106, &Listen, &stuck));
        ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060006, BODY));
        ::Sleep(100);   // the speaker is inside the listener now
        broker.Stop();
        EXPECT_TRUE(log.Contains("MessageBroker::Stop: CmdQueue::stop() timed out."));
        ASSERT_EQ(1u, stuck.Calls().size());   // the release call, on this thread
        EXPECT_EQ(0u, stuck.Calls()[0].messageId);
        ASSERT_TRUE(broker.Start());           // a new speaker queue
        release.Set();
    }   // the kept queue ends with its listener
    ASSERT_TRUE(stuck.WaitForCalls(2));
    EXPECT_EQ(0x01060006u, stuck.Calls()[1].messageId);
}

namespace {
struct SelfRemover {
    MessageBroker* broker = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> releases{0};
};
void RemoveSelf(void* context, uint32_t messageId, JsonValue&) {
    auto* self = static_cast<SelfRemover*>(context);
    if (messageId == 0) {
        ++self->releases;
        return;
    }
    ++self->calls;
    self->broker->RemoveMessageListener(0x106, &RemoveSelf, self);
}
} // namespace

TEST(MessageBroker, AListenerMayRemoveItselfFromItsOwnCall) {
    SelfRemover self;
    MessageBroker broker;
    self.broker = &broker;
    ASSERT_TRUE(broker.Start());
    ASSERT_EQ(0u, broker.AddMessageListener(0x106, &RemoveSelf, &self));
    ASSERT_EQ(0u, broker.BroadcastMessageToListeners(0x01060007, BODY));
    for (int i = 0; i < 500 && self.releases == 0; ++i) ::Sleep(10);
    EXPECT_EQ(1, self.calls.load());
    EXPECT_EQ(1, self.releases.load());
    broker.Stop();
    EXPECT_EQ(1, self.releases.load());
}
