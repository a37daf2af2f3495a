// Points the registry layer at a scratch folder for one test and writes hive files into it.
#pragma once

#include <string>

class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    // `body` follows the "Windows Registry Editor Version 5.00" line.
    void WriteUtf8(const std::string& root, const std::string& body);
    void WriteUtf16(const std::string& root, const std::string& body);  // UTF-16LE with BOM, CRLF
    void WriteRaw(const std::string& root, const std::string& bytes);

private:
    std::string m_dir;
    std::string m_previous;
    bool m_hadPrevious = false;
};
