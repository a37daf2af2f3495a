// An in-place call killed with SIGKILL at each point of the replacement: the original or the complete result
// is always found, under the document's name or its "~PV" name.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using reference::Bytes;
namespace hook = plat::hook;
const std::string kKey = "crash-test-key!!";
const Bytes kHeader = {'c', 'r', 'a', 's', 'h'};

enum class Driver { DoEncryptFile, EncryptFile2, DecryptFileW, DecryptFile2 };
struct Scenario {
    const char* name;
    Driver driver;
    bool iconsOnly;  // the wipe runs on the ".wipeout" name
};
const Scenario kScenarios[] = {{"DoEncryptFile", Driver::DoEncryptFile, false},
                               {"DoEncryptFileIconsOnly", Driver::DoEncryptFile, true},
                               {"EncryptFile2", Driver::EncryptFile2, false},
                               {"DecryptFileW", Driver::DecryptFileW, false},
                               {"DecryptFile2", Driver::DecryptFile2, false}};

// One in-place call in a folder of its own, forked from the test binary.
class Stage {
public:
    Stage(const Scenario& scenario, size_t size) : m_driver(scenario.driver)
    {
        const Bytes document = reference::Document(size, static_cast<uint32_t>(size));
        const Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", kHeader),
                                                  reference::SegmentedBody(kKey, document));
        const Bytes& original = Encrypts() ? document : container;
        const Bytes& result = Encrypts() ? container : document;
        m_original.assign(original.begin(), original.end());
        m_result.assign(result.begin(), result.end());
        const std::string key = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]";
        m_registry.WriteUtf8("HKEY_CURRENT_USER",
                             key + "\n\"IconsOnly\"=dword:0000000" + (scenario.iconsOnly ? "1\n" : "0\n"));
        Reset();
    }
    bool Encrypts() const { return m_driver == Driver::DoEncryptFile || m_driver == Driver::EncryptFile2; }
    void Reset() const
    {
        for (const std::string& name : containerfiles::Entries(m_dir.Path()))
            std::remove((m_dir / name).c_str());
        WriteBytes(Path(), m_original);
    }
    std::string Path() const { return m_dir / "document"; }

    // Forks the child that runs the call and kills itself at the hook point `killAt` (null: none).
    pid_t Start(const char* killAt) const
    {
        const std::u16string path = Wide(Path());
        std::fflush(nullptr);
        if (const pid_t pid = fork(); pid != 0)
            return pid;
        if (killAt != nullptr)
            plat::fault::SetHook([killAt](std::string_view point) {
                if (point == killAt)
                    kill(getpid(), SIGKILL);
            });
        char* key = const_cast<char*>(kKey.data());
        char* header = const_cast<char*>(kHeader.data());
        const char16_t* p = path.c_str();
        int result = 0;
        switch (m_driver) {
        case Driver::DoEncryptFile: result = CPVCodec::DoEncryptFile(p, p, key, header, 5, nullptr, 0, nullptr); break;
        case Driver::EncryptFile2: result = CPVCodec::EncryptFile2(p, p, key, header, 5, nullptr); break;
        case Driver::DecryptFileW: result = CPVCodec::DecryptFileW(p, p, key, nullptr, 14 + 5); break;
        case Driver::DecryptFile2: result = CPVCodec::DecryptFile2(p, p, key, nullptr, 14 + 5); break;
        }
        _exit(result == 1 ? 0 : 1);
    }

    // "original" or "result" (under its name), "temporary" (the complete result under a "~PV" name,
    // now renamed to the document's name), or "" when it was lost.
    std::string Recover() const
    {
        const std::string bytes = Exists(Path()) ? ReadBytes(Path()) : "";
        if (Exists(Path()) && (bytes == m_original || bytes == m_result))
            return bytes == m_original ? "original" : "result";
        for (const std::string& temp : containerfiles::Temporaries(m_dir.Path()))
            if (ReadBytes(temp) == m_result && std::rename(temp.c_str(), Path().c_str()) == 0)
                return "temporary";
        return "";
    }
    testing::Message Listing() const
    {
        return testing::Message() << testing::PrintToString(containerfiles::Entries(m_dir.Path()));
    }

private:
    Driver m_driver;
    std::string m_original, m_result;
    TempDir m_dir;
    RegistrySandbox m_registry;
};

// -1 unless the child was killed by SIGKILL; its exit status otherwise.
int Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// Every point of an in-place replacement, in order, and where the document is found after a kill
// there. Decryption removes the container it replaces without a wipe.
TEST(CrashAtNamedPoint, DocumentIsRecoverable)
{
    const std::pair<const char*, const char*> kills[] = {
        {hook::kTempCreated, "original"},         {hook::kBeforeReplace, "original"},
        {hook::kWipeOverwritten, "temporary"},    {hook::kWipeRenamed, "temporary"},
        {hook::kDestinationRemoved, "temporary"}, {hook::kAfterRename, "result"}};
    for (const Scenario& scenario : kScenarios) {
        Stage stage(scenario, 40000);
        for (const auto& [point, recovered] : kills) {
            if (!stage.Encrypts() && std::string(point).rfind("wipe", 0) == 0)
                continue;
            SCOPED_TRACE(std::string(scenario.name) + " at " + point);
            stage.Reset();
            ASSERT_EQ(Wait(stage.Start(point)), -1) << "the call never reached the point";
            EXPECT_EQ(stage.Recover(), recovered) << stage.Listing();
        }
    }
}

}  // namespace
