#pragma once
// Latency samples and the figures the benchmarks print: one line per figure,
// "name value unit".
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// "--count N" on the command line caps every measured loop at N rounds and
// the fan-out at N listeners: a run under ctest only shows that the
// benchmarks still build and run, and its figures mean nothing.
inline int& BenchCountLimit() {
    static int limit = 0;   // 0: each benchmark's own counts
    return limit;
}
inline int Rounds(int wanted) { return BenchCountLimit() > 0 ? std::min(wanted, BenchCountLimit()) : wanted; }

struct Figures {
    double medianUs = 0;
    double p99Us = 0;
    double queriesPerSecond = 0;
};

inline Figures Summarise(std::vector<double> latenciesUs, double wallSeconds) {
    Figures f;
    if (latenciesUs.empty()) return f;
    std::sort(latenciesUs.begin(), latenciesUs.end());
    f.medianUs = latenciesUs[latenciesUs.size() / 2];
    f.p99Us = latenciesUs[std::min(latenciesUs.size() - 1, latenciesUs.size() * 99 / 100)];
    f.queriesPerSecond = wallSeconds > 0 ? latenciesUs.size() / wallSeconds : 0;
    return f;
}

inline void PrintFigure(const std::string& name, double value, const char* unit) {
    std::printf("%s %.3f %s\n", name.c_str(), value, unit);
    std::fflush(stdout);
}

inline void PrintFigures(const std::string& name, const Figures& f) {
    PrintFigure(name + ".median", f.medianUs, "us");
    PrintFigure(name + ".p99", f.p99Us, "us");
    PrintFigure(name + ".throughput", f.queriesPerSecond, "queries/s");
}
