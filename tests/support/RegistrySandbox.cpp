#include "support/RegistrySandbox.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

RegistrySandbox::RegistrySandbox()
{
    char pattern[] = "/tmp/pvcodec-registry-XXXXXX";
    m_dir = mkdtemp(pattern);
    const char* previous = std::getenv("PVCODEC_REGISTRY_DIR");
    m_hadPrevious = previous != nullptr;
    m_previous = m_hadPrevious ? previous : "";
    setenv("PVCODEC_REGISTRY_DIR", m_dir.c_str(), 1);
}

RegistrySandbox::~RegistrySandbox()
{
    m_hadPrevious ? setenv("PVCODEC_REGISTRY_DIR", m_previous.c_str(), 1) : unsetenv("PVCODEC_REGISTRY_DIR");
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
    std::string bytes = "\xFF\xFE";
    for (char c : "Windows Registry Editor Version 5.00\n\n" + body)  // test bodies are ASCII
        bytes += c == '\n' ? std::string("\r\0\n\0", 4) : std::string{c, '\0'};
    WriteRaw(root, bytes);
}
