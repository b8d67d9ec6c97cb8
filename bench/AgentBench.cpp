// The agent's own costs, KelConsole.exe as a user's session runs it (with the
// product's service, its settings as on a user's machine), each against a
// baseline measured in the same run.
//   agent_bench [--count N] [lifecycle] [idle] [queries] [balloons]
//                              runs the named parts (all without a name) and
//                              prints one figure per line; --count caps every
//                              loop at N rounds and idles 2 s instead of 60
//                              (a smoke run, as under ctest)
//   agent_bench serve-raw <pipe> <ready> <quit>
//                              the raw baseline server
// It sets the product's registry values itself and puts them back at the
// end; an agent that already serves the session is left alone, and the run
// refused.
#include <windows.h>

#include <cstdio>
#include <string>

#include "AgentParts.h"
#include "AgentSession.h"
#include "BenchProcess.h"
#include "BenchStats.h"
#include "ProviderWrappers.h"
#include "RawPipeExchange.h"

namespace {

int RunParts(int argc, wchar_t** argv) {
    const BenchParts parts(argc, argv);
    if (CIpcServerProviderWrapper::IsSessionAgentRunning()) {
        std::fprintf(stderr, "an agent already serves the session pipe: end it first\n");
        return 1;
    }
    AgentSession session;
    if (!session.Ready()) return 1;
    const std::wstring rawPipe = L"kelbench_raw_" + std::to_wstring(::GetCurrentProcessId());
    BenchProcess raw(L"serve-raw", rawPipe);
    if (!raw.WaitReady()) {
        std::fprintf(stderr, "the raw server did not start\n");
        return 1;
    }
    if (parts.Wanted(L"lifecycle") && !RunLifecycleBench()) return 1;
    if (!parts.Wanted(L"idle") && !parts.Wanted(L"queries") && !parts.Wanted(L"balloons")) return 0;

    // One agent for the rest, idle first as after a user's logon.
    AgentProcess agent;
    if (!agent.Start() || !agent.WaitServing()) {
        std::fprintf(stderr, "the agent did not start\n");
        return 1;
    }
    agent.Settle();
    const bool measured = (!parts.Wanted(L"idle") || RunIdleBench(agent, raw.Handle())) &&
                          (!parts.Wanted(L"queries") || RunQueryBench(rawPipe)) &&
                          (!parts.Wanted(L"balloons") || RunBalloonBench(agent, rawPipe));
    const DWORD exitCode = agent.Exit();
    PrintFigure("agent_log.size", static_cast<double>(session.LogBytes()), "bytes");
    if (exitCode != 0) std::fprintf(stderr, "the agent ended with %lu\n", exitCode);
    return measured && exitCode == 0 ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 5 && std::wstring(argv[1]) == L"serve-raw") {
        QvCommon::UniqueHandle ready(BenchNamedEvent(argv[3])), quit(BenchNamedEvent(argv[4]));
        RunRawServer(argv[2], Chunking::Whole, ready.get(), quit.get());
        return 0;
    }
    return RunParts(argc, argv);
}
