#pragma once
// Latency samples and the figures the benchmarks print: one line per figure,
// "name value unit".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// "--count N" on the command line caps every measured loop at N rounds and
// the fan-out at N listeners: a run under ctest only shows that the
// benchmarks still build and run, and its figures mean nothing.
inline int& BenchCountLimit() {
    static int limit = 0;   // 0: each benchmark's own counts
    return limit;
}
inline int Rounds(int wanted) { return BenchCountLimit() > 0 ? std::min(wanted, BenchCountLimit()) : wanted; }

// The command line "[--count N] [part...]": sets the count limit and answers
// whether a part is wanted (every part when none is named).
class BenchParts {
public:
    BenchParts(int argc, wchar_t** argv) {
        for (int i = 1; i < argc; ++i) {
            if (std::wcscmp(argv[i], L"--count") == 0 && i + 1 < argc) BenchCountLimit() = _wtoi(argv[++i]);
            else m_named.push_back(argv[i]);
        }
    }
    bool Wanted(const wchar_t* part) const { return m_named.empty() || Named(part); }
    bool Named(const wchar_t* part) const {
        return std::find(m_named.begin(), m_named.end(), part) != m_named.end();
    }

private:
    std::vector<std::wstring> m_named;
};

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

// Runs `perCaller` rounds (capped by Rounds) of query(caller) on each of
// `callers` threads at once; a failed query is reported and left out.
inline Figures MeasureCallers(const std::function<bool(int caller)>& query, int callers, int perCaller) {
    using Clock = std::chrono::steady_clock;
    std::vector<std::vector<double>> samples(callers);
    std::vector<std::thread> threads;
    const auto start = Clock::now();
    for (int c = 0; c < callers; ++c) {
        threads.emplace_back([&, c] {
            for (int i = 0; i < Rounds(perCaller); ++i) {
                const auto before = Clock::now();
                if (!query(c)) {
                    std::fprintf(stderr, "query failed\n");
                    continue;
                }
                samples[c].push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
            }
        });
    }
    for (auto& t : threads) t.join();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::vector<double> all;
    for (auto& s : samples) all.insert(all.end(), s.begin(), s.end());
    return Summarise(all, wall);
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
