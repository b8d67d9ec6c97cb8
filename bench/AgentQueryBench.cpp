// Queries through the running agent, as browser add-ons make them: each
// client is a CIpcClient of its own on the session pipe (the clients are
// threads of this process), against the raw exchange with the same body to a
// raw server in another process.
#include "AgentParts.h"

#include <cstdio>
#include "BenchStats.h"
#include "IpcDefs.h"
#include "ProviderMessages.h"
#include "RawPipeExchange.h"
#include "WorkspaceDefs.h"

namespace {

constexpr int MAX_CLIENTS = 8;
constexpr int WARM_UP = 10;

struct Message {
    const char* name;
    uint32_t id;
    JsonValue body;
    uint32_t expected;   // the agent's result code
};

} // namespace

bool RunQueryBench(const std::wstring& rawPipe) {
    CIpcClient clients[MAX_CLIENTS];
    for (CIpcClient& client : clients) client.Initialize(IPC_SESSION_PIPE);
    const Message messages[] = {
        {"console_status", KEL_PROVIDER_WORKSPACE_MSG_GET_CONSOLE_UI_STATUS, nullptr, PROVIDER_RESULT_OK},
        {"window_count", KEL_PROVIDER_WORKSPACE_MSG_GET_ACTIVATED_UI_COUNT, nullptr, PROVIDER_RESULT_OK},
        {"balloon_status_unknown", KEL_PROVIDER_WORKSPACE_MSG_GET_BALLOON_STATUS,
         {{"BrowserName", "IE"}, {"WindowId", "1001"}, {"TabId", "1"}}, WORKSPACE_RESULT_NO_SUCH_BALLOON},
    };
    const struct { int clients, perClient; } loads[] = {{1, 300}, {MAX_CLIENTS, 40}};
    for (const Message& m : messages) {
        const std::wstring text = KelJson::Write(m.body);   // what the client writes
        auto agent = [&](int client) {
            JsonValue body = m.body;
            return AgentProcess::SendThrough(clients[client], m.id, body) == m.expected;
        };
        auto baseline = [&](int) {
            std::wstring reply;
            return RawQuery(rawPipe, Chunking::Whole, text, reply) && reply == text;
        };
        MeasureCallers(baseline, 1, WARM_UP);
        MeasureCallers(agent, 1, WARM_UP);
        for (const auto& load : loads) {
            const Figures raw = MeasureCallers(baseline, load.clients, load.perClient);
            const Figures full = MeasureCallers(agent, load.clients, load.perClient);
            if (full.medianUs == 0) return false;   // every query failed
            const std::string suffix = std::string(".") + m.name + ".clients" + std::to_string(load.clients);
            PrintFigures("agent_baseline" + suffix, raw);
            PrintFigures("agent_query" + suffix, full);
            PrintFigure("ratio.median.agent_query_over_baseline" + suffix, full.medianUs / raw.medianUs, "x");
        }
    }
    return true;
}
