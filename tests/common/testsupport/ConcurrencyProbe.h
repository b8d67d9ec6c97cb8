#pragma once
// Counts how many threads are inside a piece of code at once, and the most
// there ever were: put a Scope where the code under test calls the test back.
#include <atomic>

namespace KelTest {

class ConcurrencyProbe {
public:
    class Scope {
    public:
        explicit Scope(ConcurrencyProbe& probe) : m_probe(probe) { m_probe.Enter(); }
        ~Scope() { m_probe.Leave(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
    private:
        ConcurrencyProbe& m_probe;
    };

    int Running() const { return m_running; }
    int MaxRunning() const { return m_maxRunning; }
    int Entries() const { return m_entries; }   // every entry so far

private:
    void Enter() {
        ++m_entries;
        int now = ++m_running;
        int seen = m_maxRunning;
        while (now > seen && !m_maxRunning.compare_exchange_weak(seen, now)) {}
    }
    void Leave() { --m_running; }

    std::atomic<int> m_running{0};
    std::atomic<int> m_maxRunning{0};
    std::atomic<int> m_entries{0};
};

} // namespace KelTest
