// What the file decryption tests share: the three entry points, a scratch folder with a registry sandbox,
// containers written into it, the "~PV" temporaries a call leaves, and a window that records progress.
#pragma once

#include "PVCodec.h"
#include "platform/Messaging.h"
#include "support/ContainerFiles.h"
#include "support/ReaderContainers.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace decryption {

using readercontainers::Bytes;

using DecryptFn = int (*)(const PVWCHAR*, const PVWCHAR*, char*, PVHWND, int);

struct Driver {
    const char* name;
    DecryptFn fn;
    bool full;  // DecryptFileW's behaviour (RDDecryptFile too)
};

inline const Driver kFull{"DecryptFileW", &CPVCodec::DecryptFileW, true};
inline const Driver kStreaming{"DecryptFile2", &CPVCodec::DecryptFile2, false};
inline const Driver kForwarding{"RDDecryptFile", &CPVCodec::RDDecryptFile, true};

// The trace prefix of a driver's own lines.
inline std::string Prefix(const Driver& driver)
{
    return driver.full ? "[PVCodec.dll]CPVCodec::DecryptFile() " : "[PVCodec.dll]CPVCodec::DecryptFile2() ";
}

// Records the percents sent as progress messages (message 1031), -1 for any other message.
class ProgressWindow {
public:
    PVHWND Handle() const { return HostWindow(m_window.Handle()); }
    const std::vector<int>& Percents() const { return m_percents; }

private:
    std::vector<int> m_percents;
    plat::ScopedWindow m_window{[this](plat::UINT message, plat::WPARAM wParam, plat::LPARAM lParam) -> plat::LRESULT {
        m_percents.push_back(message == 1031 && lParam == 0 ? static_cast<int>(wParam) : -1);
        return 0;
    }};
};

class FileDecryption : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return m_folder + "/" + name; }

    std::string Put(const Bytes& bytes, const std::string& name = "doc.pvc") const
    {
        WriteBytes(Path(name), std::string(bytes.begin(), bytes.end()));
        return Path(name);
    }

    static Bytes Contents(const std::string& path) { return containerfiles::FileBytes(path); }

    // Runs `driver` and keeps its trace lines in m_lines.
    int Run(const Driver& driver, const std::string& source, const std::string& destination, int offset,
            const std::string& key = readercontainers::kKey, PVHWND window = nullptr)
    {
        const HostString src = HostPath(source), dest = HostPath(destination);
        TraceCapture trace;
        const int result = driver.fn(src.c_str(), dest.c_str(), readercontainers::KeyArg(key), window, offset);
        m_lines = trace.Lines();
        return result;
    }

    bool Traced(const std::string& line) const
    {
        return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
    }

    // The "~PV" temporaries in the scratch folder, as full paths.
    std::vector<std::string> Temporaries() const { return containerfiles::Temporaries(m_folder); }

    RegistrySandbox m_registry;
    TempDir m_dir;
    std::string m_folder = m_dir.Path();  // where the files go: the scratch folder, or one deep below it
    std::vector<std::string> m_lines;
};

}  // namespace decryption
