// Releases a group of test threads together, so that their first calls on a
// shared object race instead of running one after another.
#pragma once

#include <atomic>
#include <thread>

class StartLine {
public:
    explicit StartLine(int n) : m_Waiting(n) {}
    void arrive()
    {
        m_Waiting.fetch_sub(1);
        while (m_Waiting.load() > 0)
            std::this_thread::yield();
    }

private:
    std::atomic<int> m_Waiting;
};
