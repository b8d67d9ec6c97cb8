#include "ClientBench.h"

#include <cstdio>

#include "BenchController.h"
#include "BenchProcess.h"
#include "BenchStats.h"
#include "IpcClient.h"
#include "IpcServer.h"
#include "RawPipeExchange.h"

namespace {


constexpr uint32_t BENCH_CLASS = 0x106;
constexpr uint32_t BENCH_MESSAGE = 0x01060001;

// Runs the query the given number of times on this thread.
template <typename Query>
Figures Measure(Query query, int iterations) {
    return MeasureCallers([&](int) { return query(); }, 1, iterations);
}

} // namespace

int ServeIpc(const std::wstring& pipe, HANDLE ready, HANDLE quit) {
    BenchController controller;
    CIpcServer server;
    uint32_t started = server.Initialize(&controller, pipe);
    if (started == 0) started = server.Start();
    ::SetEvent(ready);
    if (started != 0) return 1;
    ::WaitForSingleObject(quit, INFINITE);
    server.Stop();
    return 0;
}

bool RunClientBench(const std::wstring& rawPipe, const std::wstring& raw1kPipe) {
    const std::wstring pipe = L"kelbench_ipc_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess server(L"serve-ipc", pipe);
    if (!server.WaitReady()) {
        std::fprintf(stderr, "IPC server did not start\n");
        return false;
    }
    CIpcClient client;
    client.Initialize(pipe);

    struct Body {
        const char* name;
        size_t characters;
        int iterations;
    } bodies[] = {{"body100", 100, 400}, {"body10k", 10 * 1024, 100}};
    for (const Body& b : bodies) {
        // The same text both ways: the body as the client writes it.
        const JsonValue body{{"data", std::string(b.characters, 'a')}};
        const std::wstring text = KelJson::Write(body);
        auto library = [&] {
            JsonValue reply = body;
            return client.SendMessageToProvider(BENCH_CLASS, BENCH_MESSAGE, reply) == 0 && reply == body;
        };
        auto baseline = [&] {
            std::wstring reply;
            return RawQuery(rawPipe, Chunking::Whole, text, reply) && reply == text;
        };
        // Written in the protocol's 1 KiB chunks: what the chunks cost by themselves.
        auto baseline1k = [&] {
            std::wstring reply;
            return RawQuery(raw1kPipe, Chunking::OneKiB, text, reply) && reply == text;
        };
        Measure(baseline, 10);   // warm up both sides
        Measure(library, 10);
        Figures raw = Measure(baseline, b.iterations);
        Figures full = Measure(library, b.iterations);
        Figures chunked = Measure(baseline1k, b.iterations);
        const std::string suffix = std::string(".") + b.name + ".callers1";
        PrintFigures("client_baseline" + suffix, raw);
        PrintFigures("client_baseline_1k_chunks" + suffix, chunked);
        PrintFigures("client_send" + suffix, full);
        PrintFigure("ratio.median.client_send_over_baseline" + suffix, full.medianUs / raw.medianUs, "x");
        PrintFigure("ratio.median.client_send_over_baseline_1k_chunks" + suffix,
                    full.medianUs / chunked.medianUs, "x");
        PrintFigure("ratio.throughput.client_send_over_baseline" + suffix,
                    full.queriesPerSecond / raw.queriesPerSecond, "x");
    }
    return true;
}

bool CountClientCalls() {
    const std::wstring pipe = L"kelbench_ipc_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess server(L"serve-ipc", pipe);
    if (!server.WaitReady()) return false;
    CIpcClient client;
    client.Initialize(pipe);
    const JsonValue body{{"data", std::string(100, 'a')}};
    PrintFigures("calls-client", Measure([&] {
        JsonValue reply = body;
        return client.SendMessageToProvider(BENCH_CLASS, BENCH_MESSAGE, reply) == 0 && reply == body;
    }, 1000000));
    return true;
}
