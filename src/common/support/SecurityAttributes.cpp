#include "SecurityAttributes.h"
#include "Version.h"

#include <array>

namespace QvCommon {
namespace AccessControl {
namespace {

// Masks per group, in the order the entries are added: Administrators, Power
// Users, LocalSystem, Authenticated Users, Users, Interactive, Creator Owner.
struct AccessRow {
    DWORD kind;
    DWORD administrators;
    DWORD powerUsers;
    DWORD localSystem;
    DWORD everyUser;       // Authenticated Users, Users and Interactive
    DWORD creatorOwner;
};

constexpr AccessRow ACCESS_TABLE[] = {
    {0,  0x13013F, 0x12002F, 0x13013F, 0x120029, 0x1F01FF},
    {1,  0x1301FF, 0x1200AF, 0x1301FF, 0x1200A9, 0x1F01FF},
    {2,  0x101F7,  0x18D,    0x1F5,    0x185,    0xF01FF},
    {4,  0x1003F,  0x3F,     0x1003F,  0x20009,  0xF003F},
    {5,  0x100FFB, 0x100E92, 0x100FFB, 0x101410, 0x1F0FFF},
    {6,  0x1000FB, 0x10006A, 0x1000FB, 0x100048, 0x1F03FB},
    {9,  0x100002, 0x100002, 0x100002, 0x100002, 0x100002},
    {10, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003, 0x1F0003},
    {11, 0x100001, 0x100001, 0x100001, 0x100001, 0x100001},
    {12, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001, 0x1F0001},
};
constexpr DWORD HIGHEST_KIND = 12;

constexpr std::array<WELL_KNOWN_SID_TYPE, 7> GROUPS = {
    WinBuiltinAdministratorsSid, WinBuiltinPowerUsersSid, WinLocalSystemSid,
    WinAuthenticatedUserSid, WinBuiltinUsersSid, WinInteractiveSid, WinCreatorOwnerSid};

constexpr DWORD LABEL_RID[] = {0, SECURITY_MANDATORY_MEDIUM_RID,
                               SECURITY_MANDATORY_LOW_RID, SECURITY_MANDATORY_HIGH_RID};

[[noreturn]] void Raise(DWORD code, DWORD line) {
    throw new Exception(code, "QvComn_AccessControl", line);
}

[[noreturn]] void RaiseLastError(DWORD line) {
    Raise(HRESULT_FROM_WIN32(::GetLastError()), line);
}

const AccessRow& FindRow(DWORD kind) {
    for (const AccessRow& row : ACCESS_TABLE)
        if (row.kind == kind) return row;
    Raise(kind > HIGHEST_KIND ? ERROR_NOT_SUPPORTED : ERROR_INVALID_PARAMETER, __LINE__);
}

std::vector<BYTE> MakeSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) RaiseLastError(__LINE__);
    sid.resize(size);
    return sid;
}

std::vector<BYTE> MakeLabelSid(DWORD rid) {
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    std::vector<BYTE> sid(::GetSidLengthRequired(1));
    if (!::InitializeSid(sid.data(), &authority, 1)) RaiseLastError(__LINE__);
    *::GetSidSubAuthority(sid.data(), 0) = rid;
    return sid;
}

} // namespace

SecurityAttributes::SecurityAttributes() { Clear(); }

SecurityAttributes::SecurityAttributes(DWORD kind, DWORD integrity, bool inherit)
    : m_kind(kind), m_inherit(inherit) {
    Clear();
    SetIntegrity(integrity);
    try {
        Build();
    } catch (Exception* e) {
        delete e;
        Clear();
    } catch (...) {
        Clear();
    }
}

void SecurityAttributes::SetIntegrity(DWORD integrity) {
    // An option outside 0 to 3 is not stored.
    if (integrity <= QVSEC_INTEGRITY_HIGH) m_integrity = integrity;
}

void SecurityAttributes::Clear() {
    nLength = 0;
    lpSecurityDescriptor = nullptr;
    bInheritHandle = FALSE;
    m_descriptor.clear();
}

void SecurityAttributes::Build() {
    const AccessRow& row = FindRow(m_kind);
    const DWORD masks[GROUPS.size()] = {row.administrators, row.powerUsers, row.localSystem,
                                        row.everyUser, row.everyUser, row.everyUser,
                                        row.creatorOwner};

    std::vector<std::vector<BYTE>> sids;
    DWORD daclSize = sizeof(ACL);
    for (WELL_KNOWN_SID_TYPE group : GROUPS) {
        sids.push_back(MakeSid(group));
        daclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + sids.back().size();
    }
    std::vector<BYTE> dacl(daclSize);
    if (!::InitializeAcl(reinterpret_cast<PACL>(dacl.data()), daclSize, ACL_REVISION))
        RaiseLastError(__LINE__);
    for (size_t i = 0; i < sids.size(); ++i) {
        if (!::AddAccessAllowedAce(reinterpret_cast<PACL>(dacl.data()), ACL_REVISION,
                                   masks[i], sids[i].data()))
            RaiseLastError(__LINE__);
    }

    SECURITY_DESCRIPTOR absolute;
    if (!::InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION))
        RaiseLastError(__LINE__);
    if (!::SetSecurityDescriptorDacl(&absolute, TRUE, reinterpret_cast<PACL>(dacl.data()), FALSE))
        RaiseLastError(__LINE__);

    std::vector<BYTE> sacl;
    if (Version::Check(QVVER_NT6_OR_LATER) && m_integrity != QVSEC_INTEGRITY_NONE) {
        std::vector<BYTE> label = MakeLabelSid(LABEL_RID[m_integrity]);
        DWORD saclSize = sizeof(ACL) + sizeof(SYSTEM_MANDATORY_LABEL_ACE) - sizeof(DWORD) +
                         static_cast<DWORD>(label.size());
        sacl.resize(saclSize);
        if (!::InitializeAcl(reinterpret_cast<PACL>(sacl.data()), saclSize, ACL_REVISION))
            RaiseLastError(__LINE__);
        if (!::AddMandatoryAce(reinterpret_cast<PACL>(sacl.data()), ACL_REVISION, 0,
                               SYSTEM_MANDATORY_LABEL_NO_WRITE_UP, label.data()))
            RaiseLastError(__LINE__);
        if (!::SetSecurityDescriptorSacl(&absolute, TRUE, reinterpret_cast<PACL>(sacl.data()), FALSE))
            RaiseLastError(__LINE__);
    }

    // A self-relative copy owns everything it points to, so the record stays
    // valid however it is moved around by the caller.
    DWORD size = 0;
    ::MakeSelfRelativeSD(&absolute, nullptr, &size);
    if (size == 0) RaiseLastError(__LINE__);
    std::vector<BYTE> relative(size);
    if (!::MakeSelfRelativeSD(&absolute, relative.data(), &size)) RaiseLastError(__LINE__);

    m_descriptor.swap(relative);
    nLength = sizeof(SECURITY_ATTRIBUTES);
    lpSecurityDescriptor = m_descriptor.data();
    bInheritHandle = m_inherit ? TRUE : FALSE;
}

} // namespace AccessControl
} // namespace QvCommon
