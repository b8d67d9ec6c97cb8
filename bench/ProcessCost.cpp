#include "ProcessCost.h"

#include <psapi.h>
#include "BenchStats.h"
#include "ProcessList.h"

namespace {

double Milliseconds(const FILETIME& time) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    return ticks.QuadPart / 10000.0;   // 100 ns units
}

} // namespace

ProcessCost ProcessCost::Of(HANDLE process) {
    ProcessCost cost;
    FILETIME created, ended, kernel, user;
    if (::GetProcessTimes(process, &created, &ended, &kernel, &user)) cost.cpuMs = Milliseconds(kernel) + Milliseconds(user);
    PROCESS_MEMORY_COUNTERS memory = {};
    if (::GetProcessMemoryInfo(process, &memory, sizeof(memory))) cost.workingSetKiB = memory.WorkingSetSize / 1024;
    cost.threads = KelTest::ThreadsOf(::GetProcessId(process)).size();
    return cost;
}

void PrintFootprint(const std::string& name, const ProcessCost& cost) {
    PrintFigure(name + ".working_set", static_cast<double>(cost.workingSetKiB), "KiB");
    PrintFigure(name + ".threads", static_cast<double>(cost.threads), "count");
}
