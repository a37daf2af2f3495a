// Gives one test a registry of its own, filled from .reg text as the registry editor exports it.
#pragma once

#include <string>

#ifndef _WIN32
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#endif

// On POSIX systems the registry layer reads hive files: the sandbox points it at a scratch folder and writes the
// text there. On Windows, scratch keys under HKEY_CURRENT_USER\Software stand in for HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER in this process (RegOverridePredefKey), holding the values the text sets.
class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // Replaces what the root ("HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER") holds by the file's content.
    void WriteRaw(const std::string& root, const std::string& bytes);
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
#ifdef _WIN32
    std::wstring m_scratch;     // under HKEY_CURRENT_USER
    void* m_roots[2] = {};      // the open keys standing in for HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER
#else
    std::string m_dir;
    std::optional<std::string> m_previous;
#endif
};

#ifndef _WIN32
inline RegistrySandbox::RegistrySandbox()
{
    char pattern[] = "/tmp/pvcodec-registry-XXXXXX";
    m_dir = mkdtemp(pattern);
    const char* previous = std::getenv("PVCODEC_REGISTRY_DIR");
    m_previous = previous != nullptr ? std::optional<std::string>(previous) : std::nullopt;
    setenv("PVCODEC_REGISTRY_DIR", m_dir.c_str(), 1);
}

inline RegistrySandbox::~RegistrySandbox()
{
    m_previous ? setenv("PVCODEC_REGISTRY_DIR", m_previous->c_str(), 1) : unsetenv("PVCODEC_REGISTRY_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

inline void RegistrySandbox::WriteRaw(const std::string& root, const std::string& bytes)
{
    std::ofstream(m_dir + "/" + root + ".reg", std::ios::binary | std::ios::trunc) << bytes;
}
#endif
