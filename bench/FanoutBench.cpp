#include "FanoutBench.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "BenchController.h"
#include "BenchProcess.h"
#include "BenchStats.h"
#include "HandOver.h"
#include "IpcClient.h"
#include "IpcServer.h"
#include "RawPipeExchange.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t FANOUT_CLASS = 0x106;
constexpr uint32_t FANOUT_MESSAGE = 0x01060002;
constexpr int WARM_UP_BROADCASTS = 3;
constexpr int MEASURED_BROADCASTS = 100;
constexpr DWORD DELIVERY_TIMEOUT_MS = 10000;
// Listener processes of a count of kernel calls; the count's script divides by them.
constexpr int COUNTED_LISTENERS = 10;
// As many raw writers as the broker has speaker threads.
constexpr int RAW_WRITERS = static_cast<int>(BROKER_SPEAKER_THREADS);

JsonValue Body() { return JsonValue{{"data", std::string(100, 'a')}}; }

// The raw message is as long as the library's: a 56-byte header and the body text.
std::string RawMessage() {
    const std::wstring text = KelJson::Write(Body());
    std::string message(CIpcCommand::HEADER_SIZE, '\0');
    message.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return message;
}

QvCommon::UniqueHandle OpenCounter(const std::wstring& name) {
    return QvCommon::UniqueHandle(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, (L"Local\\" + name).c_str()));
}

struct Counter {
    std::atomic<int> received{0};
    HANDLE semaphore;
};

void CountNotification(void* context, uint32_t messageId, JsonValue&) {
    auto* counter = static_cast<Counter*>(context);
    if (messageId != FANOUT_MESSAGE) return;
    ++counter->received;
    ::ReleaseSemaphore(counter->semaphore, 1, nullptr);
}

// One fan-out run: the listener processes, and how one broadcast is made.
struct Run {
    std::vector<std::unique_ptr<BenchProcess>> listeners;
    QvCommon::UniqueHandle semaphore;

    bool Start() {
        for (auto& listener : listeners)
            if (!listener->WaitReady()) return false;
        return true;
    }
    // Time of each broadcast until every listener released the semaphore.
    template <typename Broadcast>
    std::vector<double> Measure(Broadcast broadcast, int count) {
        std::vector<double> samples;
        for (int i = 0; i < count; ++i) {
            auto before = Clock::now();
            broadcast();
            bool all = true;
            for (size_t n = 0; n < listeners.size() && all; ++n)
                all = ::WaitForSingleObject(semaphore.get(), DELIVERY_TIMEOUT_MS) == WAIT_OBJECT_0;
            if (all) samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        }
        return samples;
    }
    // The notifications every listener reports at its end.
    long Received() {
        long received = 0;
        for (auto& listener : listeners) received += static_cast<long>(listener->Quit());
        return received;
    }
};

QvCommon::UniqueHandle MakeSemaphore(const std::wstring& name) {
    return QvCommon::UniqueHandle(::CreateSemaphoreW(nullptr, 0, LONG_MAX, (L"Local\\" + name).c_str()));
}

// Writers that stay, as the broker's speakers do: each serves every
// RAW_WRITERS-th pipe when its event is set.
class RawWriters {
public:
    explicit RawWriters(const std::vector<std::wstring>& pipes) : m_pipes(pipes), m_message(RawMessage()) {
        m_quit.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        for (int w = 0; w < RAW_WRITERS; ++w) {
            m_go.emplace_back(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
            m_threads.emplace_back([this, w] { Serve(w); });
        }
    }
    ~RawWriters() {
        ::SetEvent(m_quit.get());
        for (auto& thread : m_threads) thread.join();
    }
    void Broadcast() {
        for (auto& go : m_go) ::SetEvent(go.get());
    }

private:
    void Serve(int writer) {
        const HANDLE waits[] = {m_quit.get(), m_go[writer].get()};
        while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
            for (size_t p = writer; p < m_pipes.size(); p += RAW_WRITERS)
                RawSend(m_pipes[p], Chunking::OneKiB, m_message);
    }

    std::vector<std::wstring> m_pipes;
    std::string m_message;
    QvCommon::UniqueHandle m_quit;
    std::vector<QvCommon::UniqueHandle> m_go;
    std::vector<std::thread> m_threads;
};

void Print(const std::string& name, int listeners, const std::vector<double>& samples, long received) {
    const std::string prefix = name + ".listeners" + std::to_string(listeners);
    Figures figures = Summarise(samples, 0);
    PrintFigure(prefix + ".median", figures.medianUs, "us");
    PrintFigure(prefix + ".p99", figures.p99Us, "us");
    PrintFigure(prefix + ".received", static_cast<double>(received), "notifications");
    PrintFigure(prefix + ".expected", static_cast<double>(listeners) * (WARM_UP_BROADCASTS + MEASURED_BROADCASTS),
                "notifications");
}

} // namespace

int ListenIpc(const std::wstring& serverPipe, const std::wstring& semaphore, HANDLE ready, HANDLE quit) {
    QvCommon::UniqueHandle counterHandle = OpenCounter(semaphore);
    Counter counter;
    counter.semaphore = counterHandle.get();
    CIpcClient client;
    if (!client.Initialize(serverPipe) || client.AddMessageListener(FANOUT_CLASS, &CountNotification, &counter) != 0)
        return -1;
    ::SetEvent(ready);
    ::WaitForSingleObject(quit, INFINITE);
    client.Uninitialize();
    return counter.received;
}

int ListenRaw(const std::wstring& pipe, const std::wstring& semaphore, bool handOver, HANDLE ready, HANDLE quit) {
    QvCommon::UniqueHandle counter = OpenCounter(semaphore);
    const size_t expected = RawMessage().size();
    int received = 0;
    auto count = [&](const std::string&) { ::ReleaseSemaphore(counter.get(), 1, nullptr); };
    std::unique_ptr<HandOver> deliverer(handOver ? new HandOver(count) : nullptr);
    RunRawListener(pipe, Chunking::OneKiB, ready, quit, [&](const std::string& message) {
        if (message.size() != expected) return;
        ++received;
        if (deliverer) deliverer->Give(message);
        else count(message);
    });
    return received;
}

namespace {

// What one side of the fan-out measured.
struct Delivery {
    std::vector<double> samples;
    long received = 0;
};

// `warmUp` then `measured` broadcasts through a CIpcServer's controller to
// `listeners` listening CIpcClient processes.
bool ThroughLibrary(int listeners, const std::wstring& tag, int warmUp, int measured, Delivery& delivery) {
    BenchController controller;
    CIpcServer server;
    const std::wstring pipe = L"kelbench_fanout_" + tag;
    if (server.Initialize(&controller, pipe) != 0 || server.Start() != 0) return false;
    Run run;
    run.semaphore = MakeSemaphore(L"kelbench_fanout_sem_" + tag);
    for (int i = 0; i < listeners; ++i)
        run.listeners.emplace_back(new BenchProcess(L"listen-ipc", pipe + L" kelbench_fanout_sem_" + tag));
    if (!run.Start()) return false;
    // The advises travel on the listeners' pool threads: wait until the
    // controller holds every relay.
    for (int i = 0; i < 3000 && controller.Listeners() < listeners; ++i) ::Sleep(10);
    if (controller.Listeners() < listeners) return false;
    auto broadcast = [&] { controller.BroadcastMessageToListeners(FANOUT_MESSAGE, Body()); };
    run.Measure(broadcast, warmUp);
    delivery.samples = run.Measure(broadcast, measured);
    delivery.received = run.Received();
    return true;
}

// The same through raw writer threads to raw listener processes, which
// deliver on the reading thread or hand over to a second one.
bool ThroughRawPipes(int listeners, const std::wstring& tag, bool handOver, int warmUp, int measured,
                     Delivery& delivery) {
    Run run;
    run.semaphore = MakeSemaphore(L"kelbench_rawfan_sem_" + tag);
    std::vector<std::wstring> pipes;
    const wchar_t* role = handOver ? L"listen-raw-handover" : L"listen-raw";
    for (int i = 0; i < listeners; ++i) {
        pipes.push_back(L"kelbench_rawfan_" + tag + L"_" + std::to_wstring(i));
        run.listeners.emplace_back(new BenchProcess(role, pipes.back() + L" kelbench_rawfan_sem_" + tag));
    }
    if (!run.Start()) return false;
    RawWriters writers(pipes);
    auto broadcast = [&] { writers.Broadcast(); };
    run.Measure(broadcast, warmUp);
    delivery.samples = run.Measure(broadcast, measured);
    delivery.received = run.Received();
    return true;
}

std::wstring Tag(int listeners) {
    return std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(listeners);
}

} // namespace

bool RunFanoutBench() {
    for (int listeners : {1, 10, 50}) {
        if (listeners > 1 && BenchCountLimit() > 0 && listeners > BenchCountLimit()) continue;
        Delivery library, baseline, handOver;
        const int warmUp = Rounds(WARM_UP_BROADCASTS), measured = Rounds(MEASURED_BROADCASTS);
        if (!ThroughLibrary(listeners, Tag(listeners), warmUp, measured, library) ||
            !ThroughRawPipes(listeners, Tag(listeners), false, warmUp, measured, baseline) ||
            !ThroughRawPipes(listeners, Tag(listeners), true, warmUp, measured, handOver))
            return false;
        Print("fanout_baseline", listeners, baseline.samples, baseline.received);
        Print("fanout_baseline_handover", listeners, handOver.samples, handOver.received);
        Print("fanout_library", listeners, library.samples, library.received);
        const double median = Summarise(library.samples, 0).medianUs;
        const std::string suffix = ".listeners" + std::to_string(listeners);
        PrintFigure("ratio.median.fanout_library_over_baseline" + suffix,
                    median / Summarise(baseline.samples, 0).medianUs, "x");
        PrintFigure("ratio.median.fanout_library_over_baseline_handover" + suffix,
                    median / Summarise(handOver.samples, 0).medianUs, "x");
    }
    return true;
}

bool CountFanoutCalls(FanoutSide side, int broadcasts) {
    Delivery delivery;
    const int listeners = COUNTED_LISTENERS;
    const bool ran =
        side == FanoutSide::Library
            ? ThroughLibrary(listeners, Tag(listeners), WARM_UP_BROADCASTS, broadcasts, delivery)
            : ThroughRawPipes(listeners, Tag(listeners), side == FanoutSide::RawHandOver, WARM_UP_BROADCASTS,
                              broadcasts, delivery);
    return ran && delivery.received == static_cast<long>(listeners) * (WARM_UP_BROADCASTS + broadcasts);
}
