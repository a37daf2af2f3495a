// Runs part of a test in a forked child that can signal the parent and wait until it is let go on.
#pragma once

#include <functional>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

class ChildProcess {
public:
    // `body`'s result is the child's exit status. Socket pairs: a message to an exited child must not SIGPIPE.
    explicit ChildProcess(std::function<int(ChildProcess&)> body)
    {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_toParent) != 0 ||
            ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_toChild) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            int status = 98;
            try {
                status = body(*this);
            } catch (...) {
            }
            ::_exit(status);  // no destructors or test-framework teardown in the child
        }
        for (int* fd : {&m_toParent[1], &m_toChild[0]})
            ::close(std::exchange(*fd, -1));
    }
    ~ChildProcess()
    {
        Join();
        ::close(m_toParent[0]);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void SignalParent() { (void)!::send(m_toParent[1], "", 1, MSG_NOSIGNAL); }  // in the child
    void WaitForParent() { (void)!::read(m_toChild[0], m_byte, 1); }           // in the child, until ReleaseChild
    bool WaitForChild() { return ::read(m_toParent[0], m_byte, 1) == 1; }      // in the parent, until SignalParent
    void ReleaseChild()  // in the parent: let the child go on
    {
        (void)!::send(m_toChild[1], "", 1, MSG_NOSIGNAL);
        ::close(std::exchange(m_toChild[1], -1));
    }
    // In the parent: lets the child go on and answers its exit status (-1 when it did not exit normally).
    int Join()
    {
        ReleaseChild();
        int raw = 0;
        if (!m_joined && m_pid > 0 && ::waitpid(m_pid, &raw, 0) == m_pid && WIFEXITED(raw))
            m_status = WEXITSTATUS(raw);
        m_joined = true;
        return m_status;
    }

private:
    int m_toParent[2] = {-1, -1};
    int m_toChild[2] = {-1, -1};
    int m_pid = -1;
    int m_status = -1;
    bool m_joined = false;
    char m_byte[1] = {};
};
