#include "LaunchRecord.h"

#include "TestWait.h"

namespace KelTest {

LaunchRecord::LaunchRecord() : m_path(m_folder.Path() + L"launches.txt"), m_variable(L"KEL_LAUNCH_RECORD", m_path) {}

std::vector<std::string> LaunchRecord::Lines() const { return ReadLines(m_path); }

std::vector<std::string> LaunchRecord::WaitForLines() const {
    std::vector<std::string> lines;
    WaitUntil([&] { return !(lines = Lines()).empty(); });
    return lines;
}

void LaunchRecord::Clear() const { ::DeleteFileW(m_path.c_str()); }

} // namespace KelTest
