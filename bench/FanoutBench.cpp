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

void Print(const std::string& name, int listeners, int broadcasts, const std::vector<double>& samples,
           long received) {
    const std::string prefix = name + ".listeners" + std::to_string(listeners);
    Figures figures = Summarise(samples, 0);
    PrintFigure(prefix + ".median", figures.medianUs, "us");
    PrintFigure(prefix + ".p99", figures.p99Us, "us");
    PrintFigure(prefix + ".received", static_cast<double>(received), "notifications");
    PrintFigure(prefix + ".expected", static_cast<double>(listeners) * broadcasts, "notifications");
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

// One side of the fan-out: its listener processes, and how it broadcasts.
class Side {
public:
    virtual ~Side() = default;
    virtual void Broadcast() = 0;
    // Times one broadcast until every listener released the semaphore.
    bool TimeOne(std::vector<double>& samples) {
        auto before = Clock::now();
        Broadcast();
        for (size_t n = 0; n < m_listeners.size(); ++n)
            if (::WaitForSingleObject(m_semaphore.get(), DELIVERY_TIMEOUT_MS) != WAIT_OBJECT_0) return false;
        samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        return true;
    }
    // The notifications every listener reports as it ends.
    long Received() {
        long received = 0;
        for (auto& listener : m_listeners) received += static_cast<long>(listener->Quit());
        return received;
    }

protected:
    bool StartListeners(const wchar_t* role, const std::vector<std::wstring>& pipes, const std::wstring& semaphore) {
        m_semaphore = MakeSemaphore(semaphore);
        for (const std::wstring& pipe : pipes)
            m_listeners.emplace_back(new BenchProcess(role, pipe + L" " + semaphore));
        for (auto& listener : m_listeners)
            if (!listener->WaitReady()) return false;
        return true;
    }

    std::vector<std::unique_ptr<BenchProcess>> m_listeners;
    QvCommon::UniqueHandle m_semaphore;
};

// Through a CIpcServer's controller to listening CIpcClient processes.
class LibrarySide : public Side {
public:
    ~LibrarySide() override { Received(); }   // the clients go before the server
    bool Start(int listeners, const std::wstring& tag) {
        const std::wstring pipe = L"kelbench_fanout_" + tag;
        if (m_server.Initialize(&m_controller, pipe) != 0 || m_server.Start() != 0) return false;
        if (!StartListeners(L"listen-ipc", std::vector<std::wstring>(listeners, pipe), L"kelbench_fanout_sem_" + tag))
            return false;
        // The advises travel on the listeners' pool threads: wait until the
        // controller holds every relay.
        for (int i = 0; i < 3000 && m_controller.Listeners() < listeners; ++i) ::Sleep(10);
        return m_controller.Listeners() == listeners;
    }
    void Broadcast() override { m_controller.BroadcastMessageToListeners(FANOUT_MESSAGE, Body()); }

private:
    BenchController m_controller;
    CIpcServer m_server;
};

// Through raw writer threads to raw listener processes, which deliver on
// the reading thread or hand over to a second one.
class RawSide : public Side {
public:
    bool Start(int listeners, const std::wstring& tag, bool handOver) {
        const std::wstring name = std::wstring(handOver ? L"kelbench_rawho_" : L"kelbench_raw_") + tag;
        std::vector<std::wstring> pipes;
        for (int i = 0; i < listeners; ++i) pipes.push_back(name + L"_" + std::to_wstring(i));
        if (!StartListeners(handOver ? L"listen-raw-handover" : L"listen-raw", pipes, name + L"_sem")) return false;
        m_writers.reset(new RawWriters(pipes));
        return true;
    }
    void Broadcast() override { m_writers->Broadcast(); }

private:
    std::unique_ptr<RawWriters> m_writers;
};

// What one side of the fan-out measured.
struct Delivery {
    std::vector<double> samples;
    long received = 0;
};

// `warmUp` then `measured` rounds, each a broadcast through every side in
// turn: what the machine does meanwhile falls on every side alike. Then the
// listeners end and report.
bool MeasureInTurn(const std::vector<Side*>& sides, int warmUp, int measured, std::vector<Delivery>& deliveries) {
    deliveries.assign(sides.size(), Delivery());
    for (int round = 0; round < warmUp + measured; ++round) {
        for (size_t s = 0; s < sides.size(); ++s) {
            std::vector<double> warmUpSamples;
            if (!sides[s]->TimeOne(round < warmUp ? warmUpSamples : deliveries[s].samples)) return false;
        }
    }
    for (size_t s = 0; s < sides.size(); ++s) deliveries[s].received = sides[s]->Received();
    return true;
}

std::wstring Tag(int listeners) {
    return std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(listeners);
}

// The side with its listeners started; null when one did not start.
std::unique_ptr<Side> StartSide(FanoutSide which, int listeners) {
    if (which == FanoutSide::Library) {
        std::unique_ptr<LibrarySide> side(new LibrarySide);
        if (!side->Start(listeners, Tag(listeners))) return nullptr;
        return std::unique_ptr<Side>(side.release());
    }
    std::unique_ptr<RawSide> side(new RawSide);
    if (!side->Start(listeners, Tag(listeners), which == FanoutSide::RawHandOver)) return nullptr;
    return std::unique_ptr<Side>(side.release());
}

} // namespace

bool RunFanoutBench() {
    const struct {
        FanoutSide side;
        const char* name;
    } sides[] = {{FanoutSide::Library, "fanout_library"},
                 {FanoutSide::Raw, "fanout_baseline"},
                 {FanoutSide::RawHandOver, "fanout_baseline_handover"}};
    for (int listeners : {1, 10, 50}) {
        if (listeners > 1 && BenchCountLimit() > 0 && listeners > BenchCountLimit()) continue;
        std::vector<std::unique_ptr<Side>> started;
        std::vector<Side*> inTurn;
        for (const auto& side : sides) {
            started.push_back(StartSide(side.side, listeners));
            if (!started.back()) return false;
            inTurn.push_back(started.back().get());
        }
        const int warmUp = Rounds(WARM_UP_BROADCASTS), rounds = Rounds(MEASURED_BROADCASTS);
        std::vector<Delivery> measured;
        if (!MeasureInTurn(inTurn, warmUp, rounds, measured)) return false;
        for (size_t s = 0; s < measured.size(); ++s)
            Print(sides[s].name, listeners, warmUp + rounds, measured[s].samples, measured[s].received);
        const double median = Summarise(measured[0].samples, 0).medianUs;
        const std::string suffix = ".listeners" + std::to_string(listeners);
        PrintFigure("ratio.median.fanout_library_over_baseline" + suffix,
                    median / Summarise(measured[1].samples, 0).medianUs, "x");
        PrintFigure("ratio.median.fanout_library_over_baseline_handover" + suffix,
                    median / Summarise(measured[2].samples, 0).medianUs, "x");
    }
    return true;
}

bool CountFanoutCalls(FanoutSide which, int broadcasts) {
    std::unique_ptr<Side> side = StartSide(which, COUNTED_LISTENERS);
    std::vector<Delivery> delivered;
    return side && MeasureInTurn({side.get()}, WARM_UP_BROADCASTS, broadcasts, delivered) &&
           delivered[0].received == static_cast<long>(COUNTED_LISTENERS) * (WARM_UP_BROADCASTS + broadcasts);
}
