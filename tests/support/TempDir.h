// A scratch folder for one test, removed afterwards: in /dev/shm where there is one (flushes cost nothing).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

class TempDir {
public:
    explicit TempDir(const std::string& base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp")
    {
        std::string pattern = base + "/pvcodec-test-XXXXXX";
        m_path = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
    ~TempDir()
    {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(m_path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};
