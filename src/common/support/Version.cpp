#include "Version.h"

namespace QvCommon {
namespace Version {
namespace {

// GetVersionExW is deprecated but it is exactly the query the predicates are
// defined by; it reports 6.1 to programs without a manifest, which is fine.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
Record Query() {
    Record record;
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    OSVERSIONINFOEXW infoEx = {};
    infoEx.dwOSVersionInfoSize = sizeof(infoEx);
    if (!::GetVersionExW(&info) ||
        !::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&infoEx))) {
        record.error = ::GetLastError();
        return record;
    }
    record.platformId = info.dwPlatformId;
    record.major = info.dwMajorVersion;
    record.minor = info.dwMinorVersion;
    return record;
}
#pragma GCC diagnostic pop

static_assert(sizeof(OSVERSIONINFOW) == 276, "version record size");
static_assert(sizeof(OSVERSIONINFOEXW) == 284, "extended version record size");

// Filled on first use without a lock: start-up asks a predicate before any
// other thread exists.
Record& Slot() {
    static Record s_record = Query();
    return s_record;
}

} // namespace

const Record& Current() { return Slot(); }

DWORD GetError() { return Current().error; }

bool Check(DWORD predicate) {
    const Record& v = Current();
    if (v.error != 0 || v.platformId != VER_PLATFORM_WIN32_NT) return false;
    switch (predicate) {
    case QVVER_NT5_OR_LATER:  return v.major >= 5;
    case QVVER_XP_OR_LATER:   return v.major >= 6 || (v.major == 5 && v.minor >= 1);
    case QVVER_NT6_OR_LATER:  return v.major >= 6;
    case QVVER_NT61_OR_LATER: return v.major >= 6 && v.minor != 0;
    default:                  return false;
    }
}

void OverrideForTest(const Record& record) { Slot() = record; }

void RestoreForTest() { Slot() = Query(); }

} // namespace Version
} // namespace QvCommon
