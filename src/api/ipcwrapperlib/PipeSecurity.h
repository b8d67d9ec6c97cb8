#pragma once
// The security of every listening pipe: a null access list, so that every
// caller may open it, and on Vista and later a low-integrity label, so that
// low-integrity processes (browser add-ons) can reach it.
#include <windows.h>
#include <vector>

class CPipeSecurity {
public:
    // Builds the descriptor; false (logged) when it could not be built.
    bool Build();
    SECURITY_ATTRIBUTES* Get() { return &m_attributes; }

private:
    SECURITY_DESCRIPTOR m_descriptor = {};
    std::vector<BYTE> m_labelAcl;
    SECURITY_ATTRIBUTES m_attributes = {};
};
