// One balloon's show, move and close through the running agent, as a browser
// add-on asks for them over a browser window of its own (window "1001", as
// scripts/run.sh uses), against the raw exchange with the show's body; then
// many shows and closes in a row, with the agent's footprint before and after.
#include "AgentParts.h"

#include <cstdio>
#include <vector>
#include "BenchStats.h"
#include "ProcessCost.h"
#include "ProviderMessages.h"
#include "RawPipeExchange.h"

namespace {

constexpr int STEP_ROUNDS = 30;
constexpr int LOOP_PAIRS = 100;

const JsonValue BALLOON = {{"BrowserName", "IE"}, {"WindowId", "1001"}, {"TabId", "1"}};

JsonValue With(JsonValue more) {
    more.update(BALLOON);
    return more;
}

struct Step {
    const char* name;
    uint32_t id;
    JsonValue body;
    std::vector<double> samplesUs;
};

// One step, timed; false when the agent refused it.
bool Timed(AgentProcess& agent, Step& step) {
    KelTest::Stopwatch watch;
    JsonValue body = step.body;
    if (agent.Send(step.id, body) != PROVIDER_RESULT_OK) {
        std::fprintf(stderr, "balloon step %s failed\n", step.name);
        return false;
    }
    step.samplesUs.push_back(watch.ElapsedMs() * 1000);
    return true;
}

} // namespace

bool RunBalloonBench(AgentProcess& agent, const std::wstring& rawPipe) {
    Step show{"show", KEL_PROVIDER_WORKSPACE_MSG_SHOW_BALLOON, With({{"BalloonPageName", "BHOConsole.html"}}), {}};
    Step move{"move", KEL_PROVIDER_WORKSPACE_MSG_MOVE_BALLOON, With({{"BalloonPosX", 420}, {"BalloonPosY", 300}}), {}};
    Step close{"close", KEL_PROVIDER_WORKSPACE_MSG_CLOSE_BALLOON, BALLOON, {}};
    // The first balloon of a browser window makes its frame, on a UI thread of its own.
    if (!Timed(agent, show) || !Timed(agent, close)) return false;
    PrintFigure("balloon.first_show", show.samplesUs[0] / 1000, "ms");
    show.samplesUs.clear();
    close.samplesUs.clear();
    for (int round = 0; round < Rounds(STEP_ROUNDS); ++round)
        if (!Timed(agent, show) || !Timed(agent, move) || !Timed(agent, close)) return false;
    const std::wstring showText = KelJson::Write(show.body);
    const Figures baseline = MeasureCallers([&](int) {
        std::wstring reply;
        return RawQuery(rawPipe, Chunking::Whole, showText, reply) && reply == showText;
    }, 1, STEP_ROUNDS);
    PrintFigure("balloon.baseline.median", baseline.medianUs, "us");
    for (Step* step : {&show, &move, &close}) {
        const Figures figures = Summarise(step->samplesUs, 0);
        PrintFigure(std::string("balloon.") + step->name + ".median", figures.medianUs, "us");
        PrintFigure(std::string("balloon.") + step->name + ".p99", figures.p99Us, "us");
        PrintFigure(std::string("ratio.median.balloon.") + step->name + "_over_baseline",
                    figures.medianUs / baseline.medianUs, "x");
    }

    PrintFootprint("balloon.loop.before", ProcessCost::Of(agent.Handle()));
    KelTest::Stopwatch watch;
    for (int pair = 0; pair < Rounds(LOOP_PAIRS); ++pair)
        if (!Timed(agent, show) || !Timed(agent, close)) return false;
    PrintFigure("balloon.loop.pairs", Rounds(LOOP_PAIRS), "count");
    PrintFigure("balloon.loop.duration", watch.ElapsedMs(), "ms");
    agent.Settle();
    PrintFootprint("balloon.loop.after", ProcessCost::Of(agent.Handle()));
    return true;
}
