// Bytes placed where readable memory ends: a read past them faults.
#pragma once

#include <cstddef>
#include <vector>

class AtPageEnd {
public:
    // The first `length` bytes of `bytes`.
    AtPageEnd(const std::vector<char>& bytes, size_t length);
    ~AtPageEnd();
    AtPageEnd(const AtPageEnd&) = delete;
    AtPageEnd& operator=(const AtPageEnd&) = delete;

    char* data() const { return m_map + kPage - m_length; }

private:
    static constexpr size_t kPage = 65536;  // a multiple of every page size and of Windows' allocation unit
    size_t m_length;
    char* m_map;
};
