// A process that encrypts or decrypts a file in place is killed with SIGKILL
// at each named point of the replacement, and at random moments; afterwards
// the document must always be recoverable, and the test recovers it: the
// original under its name, or the complete new file under its name or under
// its "~PV" temporary name.
//
// The child is forked from the test binary and does nothing but the one call
// (with a hook that kills it at the chosen point) and _exit.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/FileHelpers.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using reference::Bytes;
namespace hook = plat::hook;

const std::string kKey = "crash-test-key!!";
const Bytes kHeader = {'c', 'r', 'a', 's', 'h'};
constexpr int kOffset = 14 + 5;

enum class Driver { DoEncryptFile, EncryptFile2, DecryptFileW, DecryptFile2 };

bool Encrypts(Driver driver)
{
    return driver == Driver::DoEncryptFile || driver == Driver::EncryptFile2;
}

struct Scenario {
    const char* name;
    Driver driver;
    bool explorerIconsOnly;  // the wipe runs on the ".wipeout" name
};

const Scenario kEncryptionScenarios[] = {
    {"DoEncryptFile", Driver::DoEncryptFile, false},
    {"DoEncryptFileIconsOnly", Driver::DoEncryptFile, true},
    {"EncryptFile2", Driver::EncryptFile2, false},
};
const Scenario kDecryptionScenarios[] = {
    {"DecryptFileW", Driver::DecryptFileW, false},
    {"DecryptFile2", Driver::DecryptFile2, false},
};

std::string AsString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

// The plain document and its container, built independently of the library.
struct Versions {
    std::string plain;
    std::string container;
    explicit Versions(size_t size)
    {
        Bytes document = reference::Document(size, static_cast<uint32_t>(size));
        plain = AsString(document);
        container = AsString(
            reference::Concat(reference::DefaultHeader("VQPVA002", kHeader), reference::SegmentedBody(kKey, document)));
    }
};

// One in-place call in a folder of its own, with the Explorer setting the
// scenario asks for (inherited by the child).
class Stage {
public:
    Stage(const Scenario& scenario, size_t size) : m_scenario(scenario), m_versions(size)
    {
        m_registry.WriteUtf8("HKEY_CURRENT_USER",
                             std::string("[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
                                         "Advanced]\n\"IconsOnly\"=dword:0000000") +
                                 (scenario.explorerIconsOnly ? "1" : "0") + "\n");
        Reset();
    }

    void Reset()
    {
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            std::filesystem::remove(entry.path());
        WriteBytes(Path(), Original());
    }

    std::string Path() const { return m_dir / "document"; }
    const std::string& Original() const { return Encrypts(m_scenario.driver) ? m_versions.plain : m_versions.container; }
    const std::string& Result() const { return Encrypts(m_scenario.driver) ? m_versions.container : m_versions.plain; }

    // Forks the child that runs the call; `killAt` names the hook point at
    // which it kills itself (null: none).
    pid_t Start(const char* killAt) const
    {
        const std::u16string path = Wide(Path());
        std::fflush(nullptr);
        pid_t pid = fork();
        if (pid != 0)
            return pid;
        if (killAt != nullptr)
            plat::fault::SetHook([killAt](std::string_view point) {
                if (point == killAt)
                    kill(getpid(), SIGKILL);
            });
        char* key = const_cast<char*>(kKey.data());
        char* header = const_cast<char*>(kHeader.data());
        int result = 0;
        switch (m_scenario.driver) {
        case Driver::DoEncryptFile:
            result = CPVCodec::DoEncryptFile(path.c_str(), path.c_str(), key, header, 5, nullptr, 0, nullptr);
            break;
        case Driver::EncryptFile2:
            result = CPVCodec::EncryptFile2(path.c_str(), path.c_str(), key, header, 5, nullptr);
            break;
        case Driver::DecryptFileW:
            result = CPVCodec::DecryptFileW(path.c_str(), path.c_str(), key, nullptr, kOffset);
            break;
        case Driver::DecryptFile2:
            result = CPVCodec::DecryptFile2(path.c_str(), path.c_str(), key, nullptr, kOffset);
            break;
        }
        _exit(result == 1 ? 0 : 1);
    }

    // How the document was recovered: "original" or "result" (found under
    // its name), "temporary" (the complete result under a "~PV" name, now
    // renamed to the document's name), or "" when it was lost. Afterwards the
    // name holds the original or the complete result.
    std::string Recover() const
    {
        if (Exists(Path())) {
            std::string bytes = ReadBytes(Path());
            if (bytes == Original())
                return "original";
            if (bytes == Result())
                return "result";
        }
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            if (entry.path().filename().string().rfind("~PV", 0) != 0)
                continue;
            if (ReadBytes(entry.path().string()) == Result()) {
                std::filesystem::rename(entry.path(), Path());
                return "temporary";
            }
        }
        return "";
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

private:
    Scenario m_scenario;
    Versions m_versions;
    TempDir m_dir;
    RegistrySandbox m_registry;
};

struct WaitResult {
    bool killed = false;
    int exitStatus = -1;
};

WaitResult Wait(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    WaitResult result;
    result.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Listing(const Stage& stage)
{
    std::string text;
    for (const std::string& name : stage.Names())
        text += name + " ";
    return text;
}

// ---- Named points -----------------------------------------------------------

struct NamedKill {
    const char* point;
    const char* recovered;  // where the document is found afterwards
};

// Every point of an in-place encryption, in order. Decryption removes the
// container it replaces without a wipe, so the wipe's points are not its own.
const NamedKill kEncryptionKills[] = {
    {hook::kTempCreated, "original"},        {hook::kBeforeReplace, "original"},
    {hook::kWipeOverwritten, "temporary"},   {hook::kWipeRenamed, "temporary"},
    {hook::kDestinationRemoved, "temporary"}, {hook::kAfterRename, "result"},
};
const NamedKill kDecryptionKills[] = {
    {hook::kTempCreated, "original"},
    {hook::kBeforeReplace, "original"},
    {hook::kDestinationRemoved, "temporary"},
    {hook::kAfterRename, "result"},
};

class CrashAtNamedPoint : public testing::TestWithParam<std::tuple<Scenario, NamedKill>> {};

TEST_P(CrashAtNamedPoint, DocumentIsRecoverable)
{
    const auto& [scenario, kill] = GetParam();
    Stage stage(scenario, 40000);
    WaitResult result = Wait(stage.Start(kill.point));
    ASSERT_TRUE(result.killed) << "the call never reached " << kill.point << " (exit " << result.exitStatus << ")";
    EXPECT_EQ(stage.Recover(), kill.recovered) << Listing(stage);
    // Recovered: the name holds the original or the complete result.
    const std::string bytes = ReadBytes(stage.Path());
    EXPECT_TRUE(bytes == stage.Original() || bytes == stage.Result());
}

std::string NamedKillName(const testing::TestParamInfo<std::tuple<Scenario, NamedKill>>& info)
{
    std::string point = std::get<1>(info.param).point;
    std::erase(point, '-');
    return std::string(std::get<0>(info.param).name) + "_" + point;
}

INSTANTIATE_TEST_SUITE_P(Encryption, CrashAtNamedPoint,
                         testing::Combine(testing::ValuesIn(kEncryptionScenarios), testing::ValuesIn(kEncryptionKills)),
                         NamedKillName);
INSTANTIATE_TEST_SUITE_P(Decryption, CrashAtNamedPoint,
                         testing::Combine(testing::ValuesIn(kDecryptionScenarios), testing::ValuesIn(kDecryptionKills)),
                         NamedKillName);

// ---- Random moments ---------------------------------------------------------

class CrashAtRandomMoment : public testing::TestWithParam<Scenario> {};

TEST_P(CrashAtRandomMoment, DocumentIsRecoverable)
{
    const Scenario& scenario = GetParam();
    Stage stage(scenario, 1 << 20);

    // One call left alone, to learn how long a call runs here.
    const auto start = std::chrono::steady_clock::now();
    WaitResult whole = Wait(stage.Start(nullptr));
    const auto duration = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(whole.exitStatus, 0);
    ASSERT_EQ(stage.Recover(), "result");

    std::mt19937 random(20240521u + static_cast<unsigned>(scenario.driver));
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
    // The first quarter is spent starting the process and reading: the kills
    // land in the rest, where the file is written and replaced.
    std::uniform_int_distribution<long long> delay(micros / 4, std::max<long long>(micros, 1));
    std::string outcomes;  // recorded for a reader of the test report: where the kills landed
    for (int round = 0; round < 6; ++round) {
        stage.Reset();
        const long long wait = delay(random);
        pid_t pid = stage.Start(nullptr);
        std::this_thread::sleep_for(std::chrono::microseconds(wait));
        kill(pid, SIGKILL);
        Wait(pid);
        const std::string how = stage.Recover();
        EXPECT_NE(how, "") << "killed after " << wait << " us: " << Listing(stage);
        outcomes += std::to_string(wait) + "us:" + how + " ";
        const std::string bytes = ReadBytes(stage.Path());
        EXPECT_TRUE(bytes == stage.Original() || bytes == stage.Result()) << "killed after " << wait << " us";
    }
    RecordProperty("outcomes", outcomes);
}

INSTANTIATE_TEST_SUITE_P(Encryption, CrashAtRandomMoment, testing::ValuesIn(kEncryptionScenarios),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Decryption, CrashAtRandomMoment, testing::ValuesIn(kDecryptionScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
