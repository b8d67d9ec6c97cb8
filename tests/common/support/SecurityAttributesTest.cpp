#include <gtest/gtest.h>

#include "SecurityAttributes.h"
#include "Version.h"

#include <vector>

using QvCommon::AccessControl::SecurityAttributes;

namespace {

using Entry = std::pair<WELL_KNOWN_SID_TYPE, DWORD>;   // group and mask

// Reads the allowed entries of the record's access list back, in order.
std::vector<Entry> AllowedEntries(SecurityAttributes& attributes) {
    std::vector<Entry> entries;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    EXPECT_TRUE(::GetSecurityDescriptorDacl(attributes.lpSecurityDescriptor, &present, &dacl,
                                            &defaulted));
    if (!present || !dacl) return entries;
    const WELL_KNOWN_SID_TYPE candidates[] = {
        WinBuiltinAdministratorsSid, WinBuiltinPowerUsersSid, WinLocalSystemSid,
        WinAuthenticatedUserSid, WinBuiltinUsersSid, WinInteractiveSid, WinCreatorOwnerSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        EXPECT_TRUE(::GetAce(dacl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
        Entry entry = {WinNullSid, ace->Mask};
        for (WELL_KNOWN_SID_TYPE group : candidates)
            if (::IsWellKnownSid(&ace->SidStart, group)) entry.first = group;
        entries.push_back(entry);
    }
    return entries;
}

// The label RID of the record's system access list, or 0 when it has none.
DWORD LabelRid(SecurityAttributes& attributes) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL sacl = nullptr;
    if (!::GetSecurityDescriptorSacl(attributes.lpSecurityDescriptor, &present, &sacl, &defaulted) ||
        !present || !sacl || sacl->AceCount == 0)
        return 0;
    void* raw = nullptr;
    EXPECT_TRUE(::GetAce(sacl, 0, &raw));
    auto* ace = static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(raw);
    EXPECT_EQ(SYSTEM_MANDATORY_LABEL_ACE_TYPE, ace->Header.AceType);
    PSID sid = &ace->SidStart;
    return *::GetSidSubAuthority(sid, *::GetSidSubAuthorityCount(sid) - 1);
}

std::vector<Entry> Expected(DWORD admins, DWORD power, DWORD system, DWORD users, DWORD owner) {
    return {{WinBuiltinAdministratorsSid, admins}, {WinBuiltinPowerUsersSid, power},
            {WinLocalSystemSid, system},           {WinAuthenticatedUserSid, users},
            {WinBuiltinUsersSid, users},           {WinInteractiveSid, users},
            {WinCreatorOwnerSid, owner}};
}
std::vector<Entry> Same(DWORD mask) { return Expected(mask, mask, mask, mask, mask); }   // every group alike

// nt6: the system has mandatory labels (Vista on); no entries: the kind has
// no row in the table, and the record stays empty.
struct DescriptorCase { DWORD kind; DWORD integrity; bool nt6; std::vector<Entry> entries; DWORD labelRid; };

} // namespace

TEST(SecurityAttributes, DescriptorsCarryTheAccessTableAndLabel) {
    const DescriptorCase cases[] = {
        {QVSEC_KIND_PROCESS, QVSEC_INTEGRITY_NONE, true,
         Expected(0x100FFB, 0x100E92, 0x100FFB, 0x101410, 0x1F0FFF), 0},
        {QVSEC_KIND_EVENT, QVSEC_INTEGRITY_LOW, true, Same(0x1F0003), SECURITY_MANDATORY_LOW_RID},
        {QVSEC_KIND_EVENT, QVSEC_INTEGRITY_LOW, false, Same(0x1F0003), 0},
        {QVSEC_KIND_REGISTRY_KEY, QVSEC_INTEGRITY_MEDIUM, true,
         Expected(0x1003F, 0x3F, 0x1003F, 0x20009, 0xF003F), SECURITY_MANDATORY_MEDIUM_RID},
        {QVSEC_KIND_MUTEX, QVSEC_INTEGRITY_HIGH, true, Same(0x1F0001), SECURITY_MANDATORY_HIGH_RID},
        {QVSEC_KIND_2, QVSEC_INTEGRITY_NONE, true, Expected(0x101F7, 0x18D, 0x1F5, 0x185, 0xF01FF), 0},
        {3, QVSEC_INTEGRITY_LOW, true, {}, 0},
        {7, QVSEC_INTEGRITY_LOW, true, {}, 0},
        {13, QVSEC_INTEGRITY_LOW, true, {}, 0},
        {QVSEC_KIND_DEFAULT, QVSEC_INTEGRITY_LOW, true, {}, 0},
    };
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " integrity " << c.integrity << " nt6 " << c.nt6);
        if (!c.nt6) QvCommon::Version::OverrideForTest({0, VER_PLATFORM_WIN32_NT, 5, 1});
        SecurityAttributes attributes(c.kind, c.integrity, true);
        QvCommon::Version::RestoreForTest();
        if (c.entries.empty()) {
            EXPECT_EQ(0u, attributes.nLength);
            EXPECT_EQ(nullptr, attributes.Get());
            EXPECT_FALSE(attributes.bInheritHandle);
            continue;
        }
        ASSERT_EQ(sizeof(SECURITY_ATTRIBUTES), attributes.nLength);
        ASSERT_NE(nullptr, attributes.lpSecurityDescriptor);
        EXPECT_TRUE(attributes.bInheritHandle);
        EXPECT_TRUE(::IsValidSecurityDescriptor(attributes.lpSecurityDescriptor));
        EXPECT_EQ(c.entries, AllowedEntries(attributes));
        EXPECT_EQ(c.labelRid, LabelRid(attributes));
    }
    EXPECT_EQ(QVSEC_KIND_DEFAULT, SecurityAttributes().GetKind());
}
