#include "support/PageEnd.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#endif

AtPageEnd::AtPageEnd(const std::vector<char>& bytes, size_t length) : m_length(length)
{
#ifdef _WIN32
    m_map = static_cast<char*>(VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    VirtualProtect(m_map + kPage, kPage, PAGE_NOACCESS, &previous);
#else
    m_map = static_cast<char*>(mmap(nullptr, 2 * kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(m_map + kPage, kPage, PROT_NONE);
#endif
    std::memcpy(data(), bytes.data(), length);
}

AtPageEnd::~AtPageEnd()
{
#ifdef _WIN32
    VirtualFree(m_map, 0, MEM_RELEASE);
#else
    munmap(m_map, 2 * kPage);
#endif
}
