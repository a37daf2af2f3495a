// Points the registry layer at a scratch folder for one test and writes hive files into it.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#ifdef _WIN32
// The real registry, whose keys the library only reads: nothing to point elsewhere (the tests that write
// values are the POSIX backend's, over its hive files).
class RegistrySandbox {
public:
    RegistrySandbox() {}
};
#else
class RegistrySandbox {
public:
    RegistrySandbox()
    {
        char pattern[] = "/tmp/pvcodec-registry-XXXXXX";
        m_dir = mkdtemp(pattern);
        const char* previous = std::getenv("PVCODEC_REGISTRY_DIR");
        m_previous = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
        setenv("PVCODEC_REGISTRY_DIR", m_dir.c_str(), 1);
    }
    ~RegistrySandbox()
    {
        m_previous ? setenv("PVCODEC_REGISTRY_DIR", m_previous->c_str(), 1) : unsetenv("PVCODEC_REGISTRY_DIR");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    void WriteRaw(const std::string& root, const std::string& bytes)
    {
        std::ofstream(m_dir + "/" + root + ".reg", std::ios::binary | std::ios::trunc) << bytes;
    }
    // `body` follows the "Windows Registry Editor Version 5.00" line.
    void WriteUtf8(const std::string& root, const std::string& body) { WriteRaw(root, kFirstLine + body); }
    void WriteUtf16(const std::string& root, const std::string& body)  // UTF-16LE with BOM, CRLF; bodies are ASCII
    {
        std::string bytes = "\xFF\xFE";
        for (char c : kFirstLine + body)
            bytes += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
        WriteRaw(root, bytes);
    }

private:
    static constexpr const char* kFirstLine = "Windows Registry Editor Version 5.00\n\n";
    std::string m_dir;
    std::optional<std::string> m_previous;
};
#endif
