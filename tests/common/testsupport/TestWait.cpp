#include "TestWait.h"

namespace KelTest {

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (::GetTickCount() - start >= timeoutMs) return false;
        ::Sleep(pollMs);
    }
}

void Stopwatch::Restart() { ::QueryPerformanceCounter(&m_start); }

double Stopwatch::ElapsedMs() const {
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

NamedEvent::NamedEvent(const std::wstring& name)
    : m_name(name), m_event(::CreateEventW(nullptr, TRUE, FALSE, (L"Local\\" + name).c_str())) {}

} // namespace KelTest
