#include <gtest/gtest.h>

#include "SecurityAttributes.h"

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

std::vector<Entry> Expected(DWORD admins, DWORD power, DWORD system, DWORD users, DWORD owner) {
    return {{WinBuiltinAdministratorsSid, admins}, {WinBuiltinPowerUsersSid, power},
            {WinLocalSystemSid, system},           {WinAuthenticatedUserSid, users},
            {WinBuiltinUsersSid, users},           {WinInteractiveSid, users},
            {WinCreatorOwnerSid, owner}};
}
std::vector<Entry> Same(DWORD mask) { return Expected(mask, mask, mask, mask, mask); }   // every group alike

// No entries: the kind has no row in the table, and the record stays empty.
// Every caller asks for no integrity label, so the rows do too.
struct DescriptorCase { DWORD kind; std::vector<Entry> entries; };

} // namespace

TEST(SecurityAttributes, DescriptorsCarryTheAccessTable) {
    const DescriptorCase cases[] = {
        {QVSEC_KIND_PROCESS, Expected(0x100FFB, 0x100E92, 0x100FFB, 0x101410, 0x1F0FFF)},
        {QVSEC_KIND_EVENT, Same(0x1F0003)},
        {QVSEC_KIND_REGISTRY_KEY, Expected(0x1003F, 0x3F, 0x1003F, 0x20009, 0xF003F)},
        {QVSEC_KIND_MUTEX, Same(0x1F0001)},
        {7, {}},
        {QVSEC_KIND_DEFAULT, {}},
    };
    for (const DescriptorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind);
        SecurityAttributes attributes(c.kind, QVSEC_INTEGRITY_NONE, true);
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
    }
    EXPECT_EQ(QVSEC_KIND_DEFAULT, SecurityAttributes().GetKind());
}
