#pragma once
// What launch_recorder.exe, standing in for the browsers and commands that
// the product starts, wrote: one command line per start, in a file of a
// folder of the test's, named to the children by KEL_LAUNCH_RECORD while the
// object lives.
#include <string>
#include <vector>
#include "TestEnvironment.h"
#include "TestFiles.h"

namespace KelTest {

class LaunchRecord {
public:
    LaunchRecord();
    std::vector<std::string> Lines() const;
    // Waits (at most 10 s) until a start was recorded; every line so far.
    std::vector<std::string> WaitForLines() const;
    void Clear() const;

private:
    TempFolder m_folder;
    std::wstring m_path;
    EnvironmentScope m_variable;
};

} // namespace KelTest
