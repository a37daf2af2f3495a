#include "support/RegistrySandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

RegistrySandbox::RegistrySandbox()
{
    char pattern[] = "/tmp/pvcodec-registry-XXXXXX";
    m_dir = mkdtemp(pattern);
    if (const char* previous = std::getenv("PVCODEC_REGISTRY_DIR")) {
        m_hadPrevious = true;
        m_previous = previous;
    }
    setenv("PVCODEC_REGISTRY_DIR", m_dir.c_str(), 1);
}

RegistrySandbox::~RegistrySandbox()
{
    if (m_hadPrevious)
        setenv("PVCODEC_REGISTRY_DIR", m_previous.c_str(), 1);
    else
        unsetenv("PVCODEC_REGISTRY_DIR");
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

void RegistrySandbox::WriteRaw(const std::string& root, const std::string& bytes)
{
    std::ofstream(m_dir + "/" + root + ".reg", std::ios::binary | std::ios::trunc) << bytes;
}

void RegistrySandbox::WriteUtf8(const std::string& root, const std::string& body)
{
    WriteRaw(root, "Windows Registry Editor Version 5.00\n\n" + body);
}

void RegistrySandbox::WriteUtf16(const std::string& root, const std::string& body)
{
    std::string text = "Windows Registry Editor Version 5.00\n\n" + body;
    std::string bytes = "\xFF\xFE";
    for (char c : text) {
        if (c == '\n') {
            bytes.push_back('\r');
            bytes.push_back('\0');
        }
        bytes.push_back(c);  // test bodies are ASCII
        bytes.push_back('\0');
    }
    WriteRaw(root, bytes);
}

void RegistrySandbox::Remove(const std::string& root)
{
    std::filesystem::remove(m_dir + "/" + root + ".reg");
}
