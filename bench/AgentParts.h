#pragma once
// The parts of agent_bench; each prints its figures and is false when the
// agent or its baseline failed. rawPipe is served by a raw baseline server
// process (RunRawServer, whole writes) of this program.
#include <windows.h>
#include <string>
#include "AgentProcess.h"

// Start-up (CreateProcess until the session pipe answers) and shut-down (the
// exit message until the process ended) of agents of their own, against a
// process of this program that serves a raw pipe.
bool RunLifecycleBench();
// The settled agent and the raw server process, both left alone for a while.
bool RunIdleBench(AgentProcess& agent, HANDLE baselineProcess);
// Queries of 1 and 8 clients at once to the running agent.
bool RunQueryBench(const std::wstring& rawPipe);
// Show, move and close of one balloon, then many in a row.
bool RunBalloonBench(AgentProcess& agent, const std::wstring& rawPipe);
