#pragma once
// What another process costs, as Wine reports it: its CPU time
// (GetProcessTimes), its working set (GetProcessMemoryInfo) and its threads
// (Toolhelp).
#include <windows.h>
#include <cstddef>
#include <string>

struct ProcessCost {
    double cpuMs = 0;   // kernel and user time since the process started
    size_t workingSetKiB = 0;
    size_t threads = 0;

    static ProcessCost Of(HANDLE process);
};

// Prints name.working_set and name.threads.
void PrintFootprint(const std::string& name, const ProcessCost& cost);
