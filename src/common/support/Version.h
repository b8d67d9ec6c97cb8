#pragma once
// Windows version predicates. The version is queried once per process; a
// failed query disables every predicate and is kept as the version error.
#include <windows.h>

// Predicate codes.
constexpr DWORD QVVER_NT5_OR_LATER  = 102; // NT, major >= 5
constexpr DWORD QVVER_XP_OR_LATER   = 103; // NT, major >= 6 or 5.1 and later
constexpr DWORD QVVER_NT6_OR_LATER  = 106; // NT, major >= 6
constexpr DWORD QVVER_NT61_OR_LATER = 109; // NT, major >= 6, minor != 0

namespace QvCommon {
namespace Version {

// What the predicates look at. Tests replace it to check other Windows versions.
struct Record {
    DWORD error = 0;        // GetLastError of a failed query, else 0
    DWORD platformId = 0;   // VER_PLATFORM_WIN32_NT is 2
    DWORD major = 0;
    DWORD minor = 0;
};

bool Check(DWORD predicate);
// 0 when the version query worked, else its Windows error code.
DWORD GetError();
const Record& Current();

// Replaces the queried record (tests only); Restore goes back to the real one.
void OverrideForTest(const Record& record);
void RestoreForTest();

} // namespace Version
} // namespace QvCommon
