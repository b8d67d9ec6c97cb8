// Query latency and throughput of the IPC library against a raw Win32 pipe
// exchange with the same connection discipline, both between two processes;
// the full client path; and broadcast fan-out to listening processes.
//   ipc_bench [--count N] [transport] [client] [fanout]
//                              runs the named parts (all without a name) and
//                              prints one figure per line; --count caps every
//                              loop at N rounds (a smoke run, as under ctest)
//   ipc_bench --count N calls-raw | calls-raw-handover | calls-library |
//                       calls-client
//                              only N queries of 100 characters of one kind,
//                              one caller: scripts/count-server-calls.sh
//                              runs it under Wine's server trace to count
//                              the kernel calls of one query
//   ipc_bench --count N calls-fanout-raw | calls-fanout-handover |
//                       calls-fanout-library
//                              only N broadcasts to 10 listener processes,
//                              for the count of one notification's calls
//   ipc_bench serve-raw  <pipe> <ready> <quit>
//   ipc_bench serve-raw1k <pipe> <ready> <quit>
//   ipc_bench serve-raw-handover <pipe> <ready> <quit>
//   ipc_bench serve-peer <pipe> <ready> <quit>
//   ipc_bench serve-ipc <pipe> <ready> <quit>
//   ipc_bench listen-ipc <server-pipe> <semaphore> <ready> <quit>
//   ipc_bench listen-raw <pipe> <semaphore> <ready> <quit>
//   ipc_bench listen-raw-handover <pipe> <semaphore> <ready> <quit>
#include <windows.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "BenchStats.h"
#include "ClientBench.h"
#include "FanoutBench.h"
#include "IpcPeer.h"
#include "RawPipeExchange.h"

namespace {


constexpr uint32_t ECHO_CODE = 0x77;

uint32_t EchoCallback(CIpcCommand& command, void*) {
    if (command.GetCommandType() != OIPC_QUERY) return 0;
    std::wstring body;
    command.GetPayloadData(body);
    IPCST_IPCINFO info = command.GetIpcInfo();
    command.Reset();
    command.SetIpcInfo(info);
    command.SetCommandType(OIPC_RESULT);
    command.SetReturnInfo(ECHO_CODE);
    command.PutPayloadData(body);
    return 0;
}

int ServePeer(const std::wstring& pipe, HANDLE ready, HANDLE quit) {
    CIpcPeer peer;
    peer.SetPipeName(pipe);
    peer.SetCallback(&EchoCallback, nullptr);
    uint32_t started = peer.ReceiveStart();
    ::SetEvent(ready);
    if (started != 0) return 1;
    ::WaitForSingleObject(quit, INFINITE);
    peer.ReceiveStop();
    return 0;
}

// One query by the given caller (0 to 7).
using QueryFn = std::function<bool(int caller, const std::wstring& body)>;
constexpr int MAX_CALLERS = 8;

Figures Measure(const QueryFn& query, const std::wstring& body, int callers, int perCaller) {
    return MeasureCallers([&](int caller) { return query(caller, body); }, callers, perCaller);
}

bool LibraryQuery(CIpcPeer& sender, const std::wstring& body) {
    CIpcCommand query;
    query.SetCommandType(OIPC_QUERY);
    query.SetIpcInfo({6, 0x18000005});
    query.PutPayloadData(body);
    if (sender.Send(query) != 0 || query.GetReturnValue() != ECHO_CODE) return false;
    return query.GetPayloadSize() == body.size() * sizeof(wchar_t);
}

bool BaselineQuery(const std::wstring& pipe, Chunking chunking, const std::wstring& body) {
    std::wstring reply;
    return RawQuery(pipe, chunking, body, reply) && reply.size() == body.size();
}

int RunTransport(const std::wstring& rawPipe, const std::wstring& raw1kPipe, const std::wstring& handOverPipe) {
    const std::wstring peerPipe = L"kelbench_peer_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess peer(L"serve-peer", peerPipe);
    if (!peer.WaitReady()) {
        std::fprintf(stderr, "servers did not start\n");
        return 1;
    }
    // Each caller keeps its sender, as a client of the library does.
    CIpcPeer senders[MAX_CALLERS];
    for (CIpcPeer& sender : senders) sender.SetPipeName(peerPipe);
    QueryFn baseline = [&](int, const std::wstring& body) {
        return BaselineQuery(rawPipe, Chunking::Whole, body);
    };
    // The same raw exchange, chunked as the library's wire protocol is: it
    // shows what the 1 KiB chunks cost by themselves.
    QueryFn baseline1k = [&](int, const std::wstring& body) {
        return BaselineQuery(raw1kPipe, Chunking::OneKiB, body);
    };
    // The raw server hands each query to a second thread, as the library's
    // accept thread hands it to a pool thread.
    QueryFn baselineHandOver = [&](int, const std::wstring& body) {
        return BaselineQuery(handOverPipe, Chunking::Whole, body);
    };
    QueryFn library = [&](int c, const std::wstring& body) { return LibraryQuery(senders[c], body); };

    struct Body {
        const char* name;
        std::wstring text;
        int iterations;
    } bodies[] = {
        {"body100", std::wstring(100, L'a'), 400},
        {"body64k", std::wstring(32 * 1024, L'b'), 60},   // 64 KiB of UTF-16
    };
    for (const Body& b : bodies) {
        Measure(baseline, b.text, 1, 10);   // warm up both sides
        Measure(library, b.text, 1, 10);
        Measure(baseline1k, b.text, 1, 10);
        Measure(baselineHandOver, b.text, 1, 10);
        Figures figures[2][2];   // [baseline, library][1 caller, 8 callers]
        const int callerCounts[2] = {1, 8};
        for (int k = 0; k < 2; ++k) {
            const int callers = callerCounts[k];
            const int perCaller = callers == 1 ? b.iterations : b.iterations / 4;
            figures[0][k] = Measure(baseline, b.text, callers, perCaller);
            figures[1][k] = Measure(library, b.text, callers, perCaller);
            Figures chunked = Measure(baseline1k, b.text, callers, perCaller);
            Figures handedOver = Measure(baselineHandOver, b.text, callers, perCaller);
            std::string suffix = std::string(".") + b.name + ".callers" + std::to_string(callers);
            PrintFigures("baseline" + suffix, figures[0][k]);
            PrintFigures("baseline_1k_chunks" + suffix, chunked);
            PrintFigures("baseline_handover" + suffix, handedOver);
            PrintFigures("library" + suffix, figures[1][k]);
            PrintFigure("ratio.median.library_over_baseline" + suffix,
                        figures[1][k].medianUs / figures[0][k].medianUs, "x");
            PrintFigure("ratio.median.library_over_baseline_1k_chunks" + suffix,
                        figures[1][k].medianUs / chunked.medianUs, "x");
            PrintFigure("ratio.median.library_over_baseline_handover" + suffix,
                        figures[1][k].medianUs / handedOver.medianUs, "x");
            PrintFigure("ratio.throughput.library_over_baseline" + suffix,
                        figures[1][k].queriesPerSecond / figures[0][k].queriesPerSecond, "x");
        }
        PrintFigure(std::string("scaling.library.") + b.name + ".throughput8_over_1",
                    figures[1][1].queriesPerSecond / figures[1][0].queriesPerSecond, "x");
        PrintFigure(std::string("scaling.baseline.") + b.name + ".throughput8_over_1",
                    figures[0][1].queriesPerSecond / figures[0][0].queriesPerSecond, "x");
    }
    return 0;
}

// N queries of one kind after the servers are up, so that the difference of
// two runs' server requests is N queries' worth and nothing else.
int RunCalls(const std::wstring& kind, const std::wstring& rawPipe, const std::wstring& handOverPipe) {
    if (kind == L"calls-client") return CountClientCalls() ? 0 : 1;
    if (kind.compare(0, 13, L"calls-fanout-") == 0) {
        const FanoutSide side = kind == L"calls-fanout-library" ? FanoutSide::Library
                                : kind == L"calls-fanout-raw"   ? FanoutSide::Raw
                                                                : FanoutSide::RawHandOver;
        return CountFanoutCalls(side, BenchCountLimit()) ? 0 : 1;
    }
    const std::wstring body(100, L'a');
    if (kind == L"calls-raw" || kind == L"calls-raw-handover") {
        const std::wstring& pipe = kind == L"calls-raw" ? rawPipe : handOverPipe;
        PrintFigures("calls", Measure([&](int, const std::wstring& text) {
            return BaselineQuery(pipe, Chunking::Whole, text);
        }, body, 1, 1000000));
        return 0;
    }
    const std::wstring peerPipe = L"kelbench_peer_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess peer(L"serve-peer", peerPipe);
    if (!peer.WaitReady()) return 1;
    CIpcPeer sender;
    sender.SetPipeName(peerPipe);
    PrintFigures("calls", Measure([&](int, const std::wstring& text) { return LibraryQuery(sender, text); },
                                  body, 1, 1000000));
    return 0;
}

// The parts named on the command line, or all of them.
int RunParts(int argc, wchar_t** argv) {
    const BenchParts parts(argc, argv);
    // The raw baseline servers serve the transport and client parts and the counts.
    const std::wstring rawPipe = L"kelbench_raw_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring raw1kPipe = L"kelbench_raw1k_" + std::to_wstring(::GetCurrentProcessId());
    const std::wstring handOverPipe = L"kelbench_rawhand_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess raw(L"serve-raw", rawPipe);
    BenchProcess raw1k(L"serve-raw1k", raw1kPipe);
    BenchProcess rawHandOver(L"serve-raw-handover", handOverPipe);
    if (!raw.WaitReady() || !raw1k.WaitReady() || !rawHandOver.WaitReady()) {
        std::fprintf(stderr, "servers did not start\n");
        return 1;
    }
    for (const wchar_t* kind :
         {L"calls-raw", L"calls-raw-handover", L"calls-library", L"calls-client", L"calls-fanout-raw",
          L"calls-fanout-handover", L"calls-fanout-library"})
        if (parts.Named(kind)) return RunCalls(kind, rawPipe, handOverPipe);
    if (parts.Wanted(L"transport") && RunTransport(rawPipe, raw1kPipe, handOverPipe) != 0) return 1;
    if (parts.Wanted(L"client") && !RunClientBench(rawPipe, raw1kPipe)) return 1;
    if (parts.Wanted(L"fanout") && !RunFanoutBench()) {
        std::fprintf(stderr, "fan-out listeners did not start\n");
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (argc >= 5 && (mode.compare(0, 6, L"serve-") == 0 || mode.compare(0, 7, L"listen-") == 0)) {
        // The role's own arguments, then its two events.
        QvCommon::UniqueHandle ready(BenchNamedEvent(argv[argc - 2]));
        QvCommon::UniqueHandle quit(BenchNamedEvent(argv[argc - 1]));
        if (mode == L"serve-peer" && argc == 5) return ServePeer(argv[2], ready.get(), quit.get());
        if (mode == L"serve-ipc" && argc == 5) return ServeIpc(argv[2], ready.get(), quit.get());
        if (mode == L"serve-raw" || mode == L"serve-raw1k" || mode == L"serve-raw-handover") {
            RunRawServer(argv[2], mode == L"serve-raw1k" ? Chunking::OneKiB : Chunking::Whole, ready.get(),
                         quit.get(), mode == L"serve-raw-handover");
            return 0;
        }
        if (mode == L"listen-ipc" && argc == 6) return ListenIpc(argv[2], argv[3], ready.get(), quit.get());
        if ((mode == L"listen-raw" || mode == L"listen-raw-handover") && argc == 6)
            return ListenRaw(argv[2], argv[3], mode == L"listen-raw-handover", ready.get(), quit.get());
        return 2;
    }
    return RunParts(argc, argv);
}
