// Start-up, shut-down and idle cost of the agent, each against the smallest
// process that does the same: this program started again to serve a raw
// pipe (start-up: until a raw query is answered; shut-down: its quit event
// until the process ended; idle: the raw server of the other parts, left
// alone as the agent is).
#include "AgentParts.h"

#include <algorithm>
#include <cstdio>
#include <vector>
#include "BenchProcess.h"
#include "BenchStats.h"
#include "ProcessCost.h"
#include "RawPipeExchange.h"

namespace {

constexpr int LIFECYCLE_ROUNDS = 7;
constexpr DWORD IDLE_MS = 60000;
constexpr DWORD SMOKE_IDLE_MS = 2000;
constexpr DWORD RAW_POLL_MS = 5;   // as the agent's start is polled

double Median(std::vector<double> samples) { return Summarise(std::move(samples), 0).medianUs; }

// The median, and the slowest round of the agent's: a stall in one round
// would not move the median.
void PrintMedians(const std::string& name, const std::vector<double>& agent, const std::vector<double>& baseline) {
    const double agentMs = Median(agent), baselineMs = Median(baseline);
    PrintFigure(name + ".agent.median", agentMs, "ms");
    PrintFigure(name + ".agent.max", *std::max_element(agent.begin(), agent.end()), "ms");
    PrintFigure(name + ".baseline.median", baselineMs, "ms");
    PrintFigure("ratio.median." + name + ".agent_over_baseline", agentMs / baselineMs, "x");
}

} // namespace

bool RunLifecycleBench() {
    std::vector<double> starts, stops, baselineStarts, baselineStops;
    for (int round = 0; round < Rounds(LIFECYCLE_ROUNDS); ++round) {
        const std::wstring pipe = L"kelbench_life_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                                  std::to_wstring(round);
        KelTest::Stopwatch watch;
        {
            BenchProcess raw(L"serve-raw", pipe);
            const bool answered = KelTest::WaitUntil([&] {
                std::wstring reply;
                return RawQuery(pipe, Chunking::Whole, L"null", reply);
            }, KelTest::CHILD_START_MS, RAW_POLL_MS);
            baselineStarts.push_back(watch.ElapsedMs());
            watch.Restart();
            if (!answered || raw.Quit() != 0) {
                std::fprintf(stderr, "the raw server did not start or end\n");
                return false;
            }
            baselineStops.push_back(watch.ElapsedMs());
        }
        AgentProcess agent;
        watch.Restart();
        if (!agent.Start() || !agent.WaitServing()) {
            std::fprintf(stderr, "the agent did not start\n");
            return false;
        }
        starts.push_back(watch.ElapsedMs());
        agent.Settle();   // a user's agent is asked to end long after its start
        watch.Restart();
        if (agent.Exit() != 0) {
            std::fprintf(stderr, "the agent did not end cleanly\n");
            return false;
        }
        stops.push_back(watch.ElapsedMs());
    }
    PrintFigure("lifecycle.rounds", static_cast<double>(starts.size()), "count");
    PrintMedians("startup", starts, baselineStarts);
    PrintMedians("shutdown", stops, baselineStops);
    return true;
}

bool RunIdleBench(AgentProcess& agent, HANDLE baselineProcess) {
    const DWORD idleMs = BenchCountLimit() > 0 ? SMOKE_IDLE_MS : IDLE_MS;
    const ProcessCost agentBefore = ProcessCost::Of(agent.Handle()), baselineBefore = ProcessCost::Of(baselineProcess);
    KelTest::Stopwatch watch;
    ::Sleep(idleMs);
    const double wallMs = watch.ElapsedMs();
    const ProcessCost agentAfter = ProcessCost::Of(agent.Handle()), baselineAfter = ProcessCost::Of(baselineProcess);
    PrintFigure("idle.duration", wallMs / 1000, "s");
    const struct { const char* name; ProcessCost before, after; } sides[] = {
        {"idle.agent", agentBefore, agentAfter}, {"idle.baseline", baselineBefore, baselineAfter}};
    for (const auto& side : sides) {
        const double cpuMs = side.after.cpuMs - side.before.cpuMs;
        PrintFigure(std::string(side.name) + ".cpu_time", cpuMs, "ms");
        PrintFigure(std::string(side.name) + ".cpu_share", 100 * cpuMs / wallMs, "%");
        PrintFootprint(side.name, side.after);
    }
    return agentAfter.threads > 0;
}
