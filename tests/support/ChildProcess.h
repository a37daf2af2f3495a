// Runs part of a test in a forked child that can signal the parent and wait until it is let go on.
#pragma once

#include <functional>

class ChildProcess {
public:
    // Forks and runs `body` in the child; its result is the child's exit status.
    explicit ChildProcess(std::function<int(ChildProcess&)> body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // In the child: tell the parent it may go on / wait until the parent says so.
    void SignalParent();
    void WaitForParent();
    // In the parent: wait for the child's signal / let the child go on.
    bool WaitForChild();
    void ReleaseChild();
    // In the parent: lets the child go on and answers its exit status (-1 when it did not exit normally).
    int Join();

private:
    int m_toParent[2] = {-1, -1};
    int m_toChild[2] = {-1, -1};
    int m_pid = -1;
    int m_status = -1;
    bool m_joined = false;
};
