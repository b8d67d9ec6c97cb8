#include "ListenerRecorder.h"
#include "TestWait.h"

namespace KelTest {
namespace {
// A held call never blocks a speaker thread past the end of a test.
constexpr DWORD GATE_LIMIT_MS = 30000;
} // namespace

void ListenerRecorder::Listen(void* context, uint32_t messageId, JsonValue& body) {
    static_cast<ListenerRecorder*>(context)->Record(messageId, body);
}

void ListenerRecorder::Record(uint32_t messageId, const JsonValue& body) {
    if (messageId != 0) {
        ConcurrencyProbe::Scope inside(*m_probe);
        if (m_gate) ::WaitForSingleObject(m_gate, GATE_LIMIT_MS);
    }
    std::lock_guard<std::mutex> guard(m_lock);
    if (messageId == 0) {
        ++m_releases;
        m_releaseThread = ::GetCurrentThreadId();
    }
    else m_calls.push_back(HeardCall{messageId, body, ::GetCurrentThreadId()});
}

std::vector<HeardCall> ListenerRecorder::Calls() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_calls;
}

size_t ListenerRecorder::Count(uint32_t messageId) const {
    std::lock_guard<std::mutex> guard(m_lock);
    size_t count = 0;
    for (const HeardCall& call : m_calls) count += call.messageId == messageId;
    return count;
}

int ListenerRecorder::Releases() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_releases;
}

DWORD ListenerRecorder::ReleaseThread() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_releaseThread;
}

bool ListenerRecorder::WaitForCalls(size_t count, DWORD timeoutMs) const {
    return WaitUntil([&] { return Calls().size() >= count; }, timeoutMs, 10);
}

} // namespace KelTest
