// What the file encryption tests share: the two writers and their trace
// prefixes, a scratch folder with a registry sandbox, the fault seam on the
// virtual clock, the call's trace, and the default container of a document
// under the test's header.
#pragma once

#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace encryption {

using containerfiles::Bytes;

inline const std::string kDo = "[PVCodec.dll]CPVCodec::DoEncryptFile() ";
inline const std::string k2 = "[PVCodec.dll]CPVCodec::EncryptFile2() ";

enum class Writer { Full, Streaming };
inline constexpr Writer kWriters[] = {Writer::Full, Writer::Streaming};

inline const std::string& Prefix(Writer writer)
{
    return writer == Writer::Full ? kDo : k2;
}

class FileEncryption : public ::testing::Test {
protected:
    FileEncryption(Bytes header, size_t documentSize)
        : m_header(std::move(header)), m_document(reference::Document(documentSize, 1))
    {
    }
    void SetUp() override { Reseat(); }

    // A fresh seam: no plans, no records, the virtual clock.
    void Reseat()
    {
        m_seam.reset();
        m_seam.emplace();
        plat::fault::UseVirtualClock(true);
    }

    // EncryptFileW (DoEncryptFile in the default form) or EncryptFile2, with
    // the test's header or none.
    int Encrypt(Writer writer, const std::string& src, const std::string& dst, bool withHeader = true,
                PVHWND window = nullptr) const
    {
        Bytes header = m_header;
        char* h = withHeader ? header.data() : nullptr;
        const int n = withHeader ? static_cast<int>(header.size()) : 0;
        const std::u16string s = Wide(src), d = Wide(dst);
        if (writer == Writer::Full)
            return CPVCodec::EncryptFileW(s.c_str(), d.c_str(), containerfiles::Key(), h, n, window);
        return CPVCodec::EncryptFile2(s.c_str(), d.c_str(), containerfiles::Key(), h, n, window);
    }

    int Offset() const { return 14 + static_cast<int>(m_header.size()); }

    Bytes ContainerOf(const Bytes& document) const
    {
        return reference::Concat(reference::DefaultHeader("VQPVA002", m_header),
                                 reference::SegmentedBody(containerfiles::kKey, document));
    }

    // The temporary name the call announced in its entry line ("" when none).
    std::string TemporaryOfTheCall() const
    {
        const std::string marker = "WATCH! Entering the Function V2, tmpDestPath=";
        for (const std::string& line : m_trace.Lines())
            if (size_t at = line.find(marker); at != std::string::npos)
                return line.substr(at + marker.size());
        return {};
    }

    // The lines after the entry line, which names a random temporary.
    std::vector<std::string> LinesAfterEntry() const
    {
        const std::vector<std::string> lines = m_trace.Lines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find("WATCH! Entering the Function V2, tmpDestPath=") != std::string::npos)
                return std::vector<std::string>(lines.begin() + static_cast<long>(i) + 1, lines.end());
        return lines;
    }

    std::vector<std::string> Names() const { return containerfiles::Entries(m_dir.Path()); }

    void RemoveAllFiles() const
    {
        for (const std::string& name : Names())
            std::remove((m_dir / name).c_str());
    }

    Bytes m_header;
    RegistrySandbox m_registry;
    TempDir m_dir;
    std::optional<plat::fault::Scope> m_seam;
    TraceCapture m_trace;
    std::string m_src = m_dir / "plain.doc";
    std::string m_dst = m_dir / "out.pvd";
    Bytes m_document;
};

}  // namespace encryption
