// The pvcodec command's failure lines for the failures only the fault seam
// can provoke (a rename or a deletion refused, a full disk, a refused open),
// read from the real drivers' traces: the command's runner
// (tools/pvcodec/LibraryCall.cpp) runs the driver in this process with the
// fault planned, and the line must name the step and, where the library kept
// its temporary file because it holds the only complete copy, that file. A
// temporary file that holds nothing of value is removed.
#include "LibraryCall.h"
#include "platform/FaultInjection.h"
#include "support/FileHelpers.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

using reference::Bytes;
using plat::fault::Failure;
using plat::fault::Op;

const std::string kKey = "message-test-key";
const Bytes kHeader = {'h', 'd', 'r'};
constexpr int kOffset = 14 + 3;

enum class Call { DoEncryptFile, EncryptFile2, DecryptFileW, DecryptFile2 };

struct MessageCase {
    const char* name;
    Call call;
    std::function<void()> plan;  // the faults, planned just before the call
    std::string message;         // @src, @dst and @tmp stand for the paths
    bool temporaryKept;
};

void Fail(Op op, unsigned first, unsigned count, plat::DWORD error = plat::ERROR_ACCESS_DENIED)
{
    plat::fault::FailCalls(op, first, count, Failure{error});
}

const MessageCase kCases[] = {
    // Planned once the old destination is gone: the wipe moves files too.
    {"EncryptRenameRefusedThroughout", Call::DoEncryptFile,
     [] {
         plat::fault::SetHook([](std::string_view point) {
             if (point == plat::hook::kDestinationRemoved) {
                 Fail(Op::FileRename, 1, 1);
                 Fail(Op::MoveFileW, 1, 5);
             }
         });
     },
     "cannot give the finished container the name @dst; it is kept as @tmp", true},
    {"EncryptNormalDeletionRefused", Call::DoEncryptFile,
     [] {
         Fail(Op::WipeOutFile, 1, 1);
         Fail(Op::FileRemove, 1, 1);
     },
     "cannot remove the existing @dst; the new container is kept as @tmp", true},
    {"EncryptProbeRefused", Call::DoEncryptFile, [] { Fail(Op::CreateFileW, 1, 1); },
     "cannot open @dst for writing (read-only, or held open by another program)", false},
    {"EncryptNoTemporaryName", Call::DoEncryptFile, [] { Fail(Op::GetTempFileNameW, 1, 1); },
     "cannot create a temporary file in the folder of @dst", false},
    {"EncryptSourceRefused", Call::DoEncryptFile, [] { Fail(Op::FileOpen, 1, 3); },
     "cannot open @src: Access to @src was denied.", false},
    // The streaming writer leaves its partial temporary file; the command removes it.
    {"StreamingWriteFails", Call::EncryptFile2, [] { Fail(Op::FileWrite, 6, 1, plat::ERROR_DISK_FULL); },
     "cannot write the temporary file in the folder of @dst (disk full?)", false},
    {"DecryptRenameRefusedThroughout", Call::DecryptFileW,
     [] {
         Fail(Op::FileRename, 1, 1);
         Fail(Op::MoveFileW, 1, 5);
     },
     "cannot give the plain document the name @dst; it is kept as @tmp", true},
    {"DecryptRemovalRefused", Call::DecryptFile2, [] { Fail(Op::FileRemove, 1, 1); },
     "cannot remove the existing @dst; the plain document is kept as @tmp", true},
    {"DecryptStreamingWriteFails", Call::DecryptFile2, [] { Fail(Op::FileWrite, 2, 1, plat::ERROR_DISK_FULL); },
     "cannot write the temporary file in the folder of @dst (disk full?)", false},
};

class CommandFailureMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(CommandFailureMessage, NamesTheStepAndKeepsOnlyWhatMatters)
{
    const MessageCase& c = GetParam();
    TempDir dir;
    const bool encrypt = c.call == Call::DoEncryptFile || c.call == Call::EncryptFile2;
    const Bytes document = reference::Document(5000, 11);
    const std::string src = dir / "source";
    const std::string dst = dir / "destination";
    WriteBytes(src, encrypt ? std::string(document.begin(), document.end())
                            : [&] {
                                  Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", kHeader),
                                                                      reference::SegmentedBody(kKey, document));
                                  return std::string(container.begin(), container.end());
                              }());
    WriteBytes(dst, "an older file at the destination");

    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    c.plan();
    cli::CallContext context{encrypt ? "encrypt" : "decrypt", src, dst, kOffset, false};
    const std::u16string s = Wide(src), d = Wide(dst);
    char* key = const_cast<char*>(kKey.data());
    Bytes header = kHeader;
    cli::CallOutcome outcome = cli::RunLibraryCall(context, false, nullptr, [&] {
        switch (c.call) {
        case Call::DoEncryptFile:
            return CPVCodec::DoEncryptFile(s.c_str(), d.c_str(), key, header.data(), 3, nullptr, 0, nullptr);
        case Call::EncryptFile2:
            return CPVCodec::EncryptFile2(s.c_str(), d.c_str(), key, header.data(), 3, nullptr);
        case Call::DecryptFileW:
            return CPVCodec::DecryptFileW(s.c_str(), d.c_str(), key, nullptr, kOffset);
        case Call::DecryptFile2:
            return CPVCodec::DecryptFile2(s.c_str(), d.c_str(), key, nullptr, kOffset);
        }
        return 0;
    });
    ASSERT_FALSE(outcome.ok);

    std::vector<std::string> temporaries;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().filename().string().rfind("~PV", 0) == 0)
            temporaries.push_back(entry.path().string());
    ASSERT_EQ(temporaries.size(), c.temporaryKept ? 1u : 0u);
    std::string expected = c.message;
    for (auto [token, value] : {std::pair<std::string, std::string>{"@src", src}, {"@dst", dst},
                                {"@tmp", c.temporaryKept ? temporaries[0] : ""}})
        for (size_t at = expected.find(token); at != std::string::npos; at = expected.find(token, at + value.size()))
            expected.replace(at, token.size(), value);
    EXPECT_EQ(outcome.failure, expected);
    if (c.temporaryKept) {
        // What is kept is the complete result.
        const std::string kept = ReadBytes(temporaries[0]);
        if (encrypt)
            EXPECT_EQ(Bytes(kept.begin() + kOffset, kept.end()), reference::SegmentedBody(kKey, document));
        else
            EXPECT_EQ(kept, std::string(document.begin(), document.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, CommandFailureMessage, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Only the last failure of the call counts: the retries and fallbacks before
// it are not the reason.
TEST(CommandFailureMessage, TheLastFailureNamesTheStep)
{
    cli::CallContext context{"encrypt", "a", "b", -1, false};
    EXPECT_EQ(cli::ExplainFailure(context, {"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Out of memory for 5 Bytes",
                                            "[PVCodec.dll]CPVCodec::EncryptFile2() WATCH! Entering the Function V2, "
                                            "tmpDestPath=/x/~PV1.tmp",
                                            "[PVCodec.dll]CPVCodec::EncryptFile2() ERROR! Already encrypted"}),
              "a is already a protected container");
    EXPECT_EQ(cli::ExplainFailure(context, {"[PVCodec.dll]CPVCodec::DoEncryptFile() WATCH! sourceFileSize=5"}),
              "the library gave no reason (--verbose shows its trace)");
}

}  // namespace
