#pragma once
// The processes and threads that are running, as Toolhelp sees them: for
// processes that a test did not start itself (an agent that restarted, a
// program that the agent started).
#include <windows.h>
#include <string>
#include <vector>

namespace KelTest {

// Ids of the running processes whose program file has this name, in any letter case.
std::vector<DWORD> ProcessesNamed(const std::wstring& program);
std::vector<DWORD> ThreadsOf(DWORD processId);

} // namespace KelTest
