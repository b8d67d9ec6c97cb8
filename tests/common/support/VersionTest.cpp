#include <gtest/gtest.h>

#include "Version.h"

using QvCommon::Version::Record;

namespace {

struct PredicateCase { const char* system; Record record; bool nt5, xp, nt6, nt61; };

const PredicateCase PREDICATE_CASES[] = {
    {"Windows 2000", {0, VER_PLATFORM_WIN32_NT, 5, 0}, true, false, false, false},
    {"Windows XP", {0, VER_PLATFORM_WIN32_NT, 5, 1}, true, true, false, false},
    {"Windows Vista", {0, VER_PLATFORM_WIN32_NT, 6, 0}, true, true, true, false},
    {"Windows 7", {0, VER_PLATFORM_WIN32_NT, 6, 1}, true, true, true, true},
    {"Windows NT 4", {0, VER_PLATFORM_WIN32_NT, 4, 0}, false, false, false, false},
    {"Windows 98", {0, VER_PLATFORM_WIN32_WINDOWS, 4, 10}, false, false, false, false},
    {"failed query", {ERROR_INVALID_PARAMETER, VER_PLATFORM_WIN32_NT, 6, 1}, false, false, false, false},
};

} // namespace

TEST(Version, PredicatesFollowTheVersionRecord) {
    for (const PredicateCase& c : PREDICATE_CASES) {
        SCOPED_TRACE(c.system);
        QvCommon::Version::OverrideForTest(c.record);
        EXPECT_EQ(c.nt5, QvCommon::Version::Check(QVVER_NT5_OR_LATER));
        EXPECT_EQ(c.xp, QvCommon::Version::Check(QVVER_XP_OR_LATER));
        EXPECT_EQ(c.nt6, QvCommon::Version::Check(QVVER_NT6_OR_LATER));
        EXPECT_EQ(c.nt61, QvCommon::Version::Check(QVVER_NT61_OR_LATER));
    }
    QvCommon::Version::RestoreForTest();
}
