#include "support/ChildProcess.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

ChildProcess::ChildProcess(std::function<int(ChildProcess&)> body)
{
    // Socket pairs rather than pipes: a message to a child that has already
    // exited must not kill the parent with SIGPIPE.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_toParent) != 0 ||
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_toChild) != 0)
        return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(m_toParent[0]);
        ::close(m_toChild[1]);
        int status = 99;
        try {
            status = body(*this);
        } catch (...) {
            status = 98;
        }
        ::_exit(status);  // no destructors or test-framework teardown in the child
    }
    ::close(m_toParent[1]);
    ::close(m_toChild[0]);
    m_toParent[1] = m_toChild[0] = -1;
}

ChildProcess::~ChildProcess()
{
    ReleaseChild();
    Join();
    for (int fd : {m_toParent[0], m_toChild[1]})
        if (fd >= 0)
            ::close(fd);
}

void ChildProcess::SignalParent()
{
    char c = 1;
    (void)!::send(m_toParent[1], &c, 1, MSG_NOSIGNAL);
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
    if (m_toChild[1] >= 0) {
        char c = 1;
        (void)!::send(m_toChild[1], &c, 1, MSG_NOSIGNAL);
        ::close(m_toChild[1]);
        m_toChild[1] = -1;
    }
}

int ChildProcess::Join()
{
    if (m_joined || m_pid <= 0)
        return m_status;
    int raw = 0;
    if (::waitpid(m_pid, &raw, 0) == m_pid && WIFEXITED(raw))
        m_status = WEXITSTATUS(raw);
    m_joined = true;
    return m_status;
}
