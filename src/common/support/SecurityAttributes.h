#pragma once
// Security attributes for the objects the agent creates with explicit
// security: a fixed access list per object kind, granted to seven well-known
// groups, and on NT 6 and later an optional mandatory integrity label. A kind
// without a row gives an empty record, so the object gets default security.
#include <windows.h>
#include <vector>
#include "QvException.h"

// Object kinds (rows of the access table).
constexpr DWORD QVSEC_KIND_0 = 0;
constexpr DWORD QVSEC_KIND_1 = 1;
constexpr DWORD QVSEC_KIND_2 = 2;
constexpr DWORD QVSEC_KIND_REGISTRY_KEY = 4;
constexpr DWORD QVSEC_KIND_PROCESS = 5;
constexpr DWORD QVSEC_KIND_6 = 6;
constexpr DWORD QVSEC_KIND_9 = 9;
constexpr DWORD QVSEC_KIND_EVENT = 10;     // 0x1F0003: EVENT_ALL_ACCESS for everyone listed
constexpr DWORD QVSEC_KIND_11 = 11;
constexpr DWORD QVSEC_KIND_MUTEX = 12;     // 0x1F0001: MUTEX_ALL_ACCESS for everyone listed
constexpr DWORD QVSEC_KIND_DEFAULT = 0x12; // no row: the system's default security

// Integrity options.
constexpr DWORD QVSEC_INTEGRITY_NONE = 0;
constexpr DWORD QVSEC_INTEGRITY_MEDIUM = 1;
constexpr DWORD QVSEC_INTEGRITY_LOW = 2;
constexpr DWORD QVSEC_INTEGRITY_HIGH = 3;

namespace QvCommon {
namespace AccessControl {

class Exception : public QvCommon::Exception::Base {
public:
    using Base::Base;
};

class SecurityAttributes : public SECURITY_ATTRIBUTES {
public:
    // An empty record: kind 0x12, no label, not inherited, nothing built.
    SecurityAttributes();
    // Builds the descriptor at once; never fails to the caller (an empty
    // record results instead).
    SecurityAttributes(DWORD kind, DWORD integrity, bool inherit);
    SecurityAttributes(const SecurityAttributes&) = delete;
    SecurityAttributes& operator=(const SecurityAttributes&) = delete;
    ~SecurityAttributes() = default;

    DWORD GetKind() const { return m_kind; }
    DWORD GetIntegrity() const { return m_integrity; }
    bool GetInherit() const { return m_inherit; }
    void SetKind(DWORD kind) { m_kind = kind; }
    void SetIntegrity(DWORD integrity);
    void SetInherit(bool inherit) { m_inherit = inherit; }

    // True when a descriptor was built (length 12 and a descriptor pointer).
    bool IsBuilt() const { return nLength != 0; }
    // What CreateXxx wants: this record, or null when it is empty.
    SECURITY_ATTRIBUTES* Get() { return IsBuilt() ? this : nullptr; }

private:
    void Build();
    void Clear();

    std::vector<BYTE> m_descriptor;   // self-relative, owned
    DWORD m_kind = QVSEC_KIND_DEFAULT;
    DWORD m_integrity = QVSEC_INTEGRITY_NONE;
    bool m_inherit = false;
};

} // namespace AccessControl
} // namespace QvCommon
