// A scratch folder for one test, removed afterwards: in /dev/shm where there is one (flushes cost nothing).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

class TempDir {
public:
#ifdef _WIN32
    // In the user's temporary folder, with '/' between names as the tests write them.
    TempDir()
    {
        namespace fs = std::filesystem;
        for (unsigned n = std::random_device()(); m_path.empty(); ++n)
            if (const fs::path p = fs::temp_directory_path() / ("pvcodec-test-" + std::to_string(n)); fs::create_directory(p))
                m_path = p.generic_string();
    }
#else
    explicit TempDir(const std::string& base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp")
    {
        std::string pattern = base + "/pvcodec-test-XXXXXX";
        m_path = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    }
#endif
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
