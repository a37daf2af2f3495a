#include "support/ChildProcess.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

// Socket pairs, not pipes: a message to a child that has exited must not SIGPIPE the parent.
ChildProcess::ChildProcess(std::function<int(ChildProcess&)> body)
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

ChildProcess::~ChildProcess()
{
    Join();
    ::close(m_toParent[0]);
}

void ChildProcess::SignalParent()
{
    (void)!::send(m_toParent[1], "", 1, MSG_NOSIGNAL);
}

void ChildProcess::WaitForParent()
{
    char c = 0;
    (void)!::read(m_toChild[0], &c, 1);
}

bool ChildProcess::WaitForChild()
{
    char c = 0;
    return ::read(m_toParent[0], &c, 1) == 1;
}

void ChildProcess::ReleaseChild()
{
    (void)!::send(m_toChild[1], "", 1, MSG_NOSIGNAL);
    ::close(std::exchange(m_toChild[1], -1));
}

int ChildProcess::Join()
{
    ReleaseChild();
    int raw = 0;
    if (!m_joined && m_pid > 0 && ::waitpid(m_pid, &raw, 0) == m_pid && WIFEXITED(raw))
        m_status = WEXITSTATUS(raw);
    m_joined = true;
    return m_status;
}
