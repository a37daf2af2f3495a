// What the file encryption tests share: the two writers and their trace
// prefixes, a scratch folder with a registry sandbox, the fault seam on the
// virtual clock, the call's trace and progress, and the expected container.
#pragma once

#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/Messaging.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <optional>
#include <string>
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
public:
    void SetUp() override { Reseat(); }

    // A fresh seam: no plans, no records, the virtual clock.
    void Reseat()
    {
        m_seam.reset();
        m_seam.emplace();
        plat::fault::UseVirtualClock(true);
    }

    // DoEncryptFile (with the test's header form) or EncryptFile2, sending progress to m_percents.
    int Encrypt(Writer writer, const std::string& src, const std::string& dst)
    {
        Bytes header = m_header;
        char* h = m_withHeader ? header.data() : nullptr;
        const int n = m_withHeader ? static_cast<int>(header.size()) : 0;
        const std::u16string s = Wide(src), d = Wide(dst);
        char* prefix = m_prefix.empty() ? nullptr : m_prefix.data();
        if (writer == Writer::Full)
            return CPVCodec::DoEncryptFile(s.c_str(), d.c_str(), m_key, h, n, m_window.Handle(), m_mode, prefix);
        return CPVCodec::EncryptFile2(s.c_str(), d.c_str(), m_key, h, n, m_window.Handle());
    }

    // The default form (or the bare body) of `document`, built independently.
    Bytes ContainerOf(const Bytes& document) const
    {
        const Bytes body = reference::SegmentedBody(containerfiles::kKey, document);
        return m_withHeader ? reference::Concat(reference::DefaultHeader("VQPVA002", m_header), body) : body;
    }

    Bytes m_header = {'o', 'p', 'a', 'q', 'u', 'e', 7, 0, 9};
    bool m_withHeader = true;
    unsigned m_mode = 0;
    Bytes m_prefix;
    char* m_key = containerfiles::Key();
    RegistrySandbox m_registry;
    TempDir m_dir;
    std::optional<plat::fault::Scope> m_seam;
    TraceCapture m_trace;
    std::vector<plat::WPARAM> m_percents;
    plat::ScopedWindow m_window{[this](plat::UINT, plat::WPARAM percent, plat::LPARAM) -> plat::LRESULT {
        m_percents.push_back(percent);
        return 0;
    }};
    std::string m_src = m_dir / "plain.doc";
    std::string m_dst = m_dir / "out.pvd";
};

}  // namespace encryption
