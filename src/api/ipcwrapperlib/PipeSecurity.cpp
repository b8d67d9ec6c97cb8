#include "PipeSecurity.h"
#include "QvLog.h"
#include "Version.h"

namespace {
constexpr BYTE LABEL_ACE_FLAGS = 0;
constexpr DWORD LABEL_ACE_MASK = SYSTEM_MANDATORY_LABEL_NO_EXECUTE_UP;   // 0x4
constexpr DWORD LABEL_LOW_RID = SECURITY_MANDATORY_LOW_RID;              // 0x1000
} // namespace

bool CPipeSecurity::Build() {
    if (!::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        QVLOG(QVLOG_ERROR, L"[CPipeServer::Initial] InitializeSecurityDescriptor failed! err=%d",
              ::GetLastError());
        return false;
    }
    if (!::SetSecurityDescriptorDacl(&m_descriptor, TRUE, nullptr, FALSE)) {
        QVLOG(QVLOG_ERROR, L"[CPipeServer::Initial] SetSecurityDescriptorDacl failed! err=%d",
              ::GetLastError());
        return false;
    }
    if (QvCommon::Version::Check(QVVER_NT6_OR_LATER)) {
        // One mandatory-label entry for the low-integrity SID.
        const DWORD sidLength = ::GetSidLengthRequired(1);
        std::vector<BYTE> sid(sidLength);
        SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
        if (!::InitializeSid(sid.data(), &authority, 1)) {
            QVLOG(QVLOG_ERROR, L"CPipeServer::Initialize: InitializeSid() failed, error=%d",
                  ::GetLastError());
            return false;
        }
        *::GetSidSubAuthority(sid.data(), 0) = LABEL_LOW_RID;
        m_labelAcl.assign(sidLength + 16, 0);
        auto* acl = reinterpret_cast<ACL*>(m_labelAcl.data());
        // Without the list or its entry the label is skipped; the pipe still
        // serves callers of medium integrity.
        if (::InitializeAcl(acl, static_cast<DWORD>(m_labelAcl.size()), ACL_REVISION) &&
            ::AddMandatoryAce(acl, ACL_REVISION, LABEL_ACE_FLAGS, LABEL_ACE_MASK, sid.data())) {
            if (!::SetSecurityDescriptorSacl(&m_descriptor, TRUE, acl, FALSE)) {
                QVLOG(QVLOG_ERROR, L"CPipeServer::Initialize: SetSecurityDescriptorSacl failed, error=%d",
                      ::GetLastError());
                return false;
            }
        }
    }
    m_attributes.nLength = sizeof(m_attributes);
    m_attributes.lpSecurityDescriptor = &m_descriptor;
    m_attributes.bInheritHandle = FALSE;
    return true;
}
