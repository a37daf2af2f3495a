// What the fuzz targets share: the key every seed container is written with,
// buffers of exactly the size a call may use (so that AddressSanitizer sees
// any byte beyond them), a private scratch folder, and the input layout of
// the container targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace fuzz {

// The seed generator writes every container with this key, so that mutated
// seeds reach the end of a body (trailer, padding) and not only a wrong key.
inline char kKey[] = "0123456789abcdef";

// A finding: the target's promise does not hold. libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool holds, const char* what)
{
    if (!holds)
        Fail(what);
}

// A heap block of exactly `size` bytes (never a null pointer, even for 0).
class Exact {
public:
    explicit Exact(size_t size, char fill = 0) : m_size(size), m_bytes(new char[size])
    {
        std::memset(m_bytes.get(), fill, size);
    }
    Exact(const uint8_t* data, size_t size) : Exact(size)
    {
        if (size > 0)
            std::memcpy(m_bytes.get(), data, size);
    }
    char* data() const { return m_bytes.get(); }
    size_t size() const { return m_size; }
    bool Holds(const char* bytes, size_t size) const
    {
        return size == m_size && (size == 0 || std::memcmp(m_bytes.get(), bytes, size) == 0);
    }

private:
    size_t m_size;
    std::unique_ptr<char[]> m_bytes;
};

inline int32_t ReadInt32(const uint8_t* bytes)
{
    return static_cast<int32_t>(static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
                                static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24);
}

// Container targets: 4 bytes of nOffsetToMain (little-endian, signed) and
// the container after them. Shorter inputs are a container of 0 bytes.
struct ContainerInput {
    int32_t offset = 0;
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

inline ContainerInput SplitContainerInput(const uint8_t* data, size_t size)
{
    ContainerInput input;
    if (size < 4)
        return input;
    input.offset = ReadInt32(data);
    input.bytes = data + 4;
    input.size = size - 4;
    return input;
}

// A folder of the target's own in memory (/dev/shm where there is one),
// removed at exit; flushes to it cost nothing.
class ScratchFolder {
public:
    ScratchFolder()
    {
        char memory[] = "/dev/shm/pvcodec-fuzz-XXXXXX";
        char fallback[] = "/tmp/pvcodec-fuzz-XXXXXX";
        const char* made = ::mkdtemp(memory);
        m_path = made != nullptr ? made : ::mkdtemp(fallback);
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

    // The names in the folder.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        if (DIR* dir = ::opendir(m_path.c_str())) {
            while (const dirent* e = ::readdir(dir)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..")
                    names.push_back(name);
            }
            ::closedir(dir);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    void Empty() const
    {
        for (const std::string& name : Entries())
            std::remove((*this / name).c_str());
    }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const void* data, size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every target runs against an empty registry of its own (the "ALG" setting
// and the install folder at their defaults) and without trace output.
inline const ScratchFolder& IsolateRegistry()
{
    static const ScratchFolder registry;
    ::setenv("PVCODEC_REGISTRY_DIR", registry.Path().c_str(), 1);
    ::unsetenv("QZTRACE");
    return registry;
}

}  // namespace fuzz
