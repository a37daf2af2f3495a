// The end of a file encryption: the existing destination wiped out (under
// its ".wipeout" name when Explorer's setting asks) or deleted, the rename
// with its MoveFileW retries, a source whose times are out of range, long
// paths, and the exact trace lines of a whole call. (Progress:
// FileDriverSupport and SegmentChunksProgress; the hook points: the crash
// tests; the source's status on the result: ResultStatus.)
#include "platform/FileTime.h"
#include "platform/FileApi.h"
#include "support/EncryptionFixture.h"

#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

#include <string>
#include <vector>

using namespace containerfiles;
using namespace encryption;
using namespace plat;

namespace {

// The scratch folder lies on tmpfs where there is one, on a disk otherwise.
std::string DriveTypeLine()
{
    const TempDir probe;
    return "[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! DriveType=" +
           std::to_string(plat::GetDriveTypeW(Wide(probe.Path()).c_str()));
}

const std::string kIconsOnly =
    "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n"
    "\"IconsOnly\"=dword:00000001\n";

timespec StatTime(const std::string& path, bool access)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    return access ? st.st_atim : st.st_mtim;
}

bool SameTime(timespec a, timespec b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class Replacement : public FileEncryption {
protected:
    Replacement() : FileEncryption({'h', 'd', 'r', 0, 5}, 2040) {}

    // The rename and the first `moves` MoveFileW calls after the older file
    // is gone (the wipe makes moves of its own) fail as if the file were busy.
    void FailRenameAndMoves(unsigned moves)
    {
        fault::SetHook([moves](std::string_view point) {
            if (point != hook::kDestinationRemoved)
                return;
            fault::FailNthCall(fault::Op::FileRename, 1, fault::Failure{ERROR_SHARING_VIOLATION});
            fault::FailCalls(fault::Op::MoveFileW, 1, moves, fault::Failure{ERROR_SHARING_VIOLATION});
        });
    }

    std::vector<std::string> LinesFrom(const std::string& first) const
    {
        std::vector<std::string> lines = m_trace.Lines();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == first)
                return std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end());
        return {};
    }
};

TEST_F(Replacement, ExactTraceOfANewFile)
{
    const Bytes document = reference::Document(1030, 2);
    WriteFile(m_src, document);
    Bytes header = m_header;  // through RDEncryptFile, which is EncryptFileW
    ASSERT_EQ(CPVCodec::RDEncryptFile(Wide(m_src).c_str(), Wide(m_dst).c_str(), Key(), header.data(),
                                      static_cast<int>(header.size())),
              1);
    const std::string temp = TemporaryOfTheCall();
    EXPECT_EQ(m_trace.Lines(), (std::vector<std::string>{
                                   kDo + "WATCH! Entering the Function V2, tmpDestPath=" + temp,
                                   kDo + "WATCH! sourceFileSize=1030, sourceFile=" + m_src,
                                   kDo + "WATCH! PadEncrypt, nRead=6",
                                   kDo + "WATCH! Start Rename",
                                   kDo + "WATCH! Start Rename [" + temp + "][" + m_dst + "]",
                                   kDo + "WATCH! End Rename ",
                                   kDo + "WATCH! Start SetStatus ",
                                   kDo + "WATCH! End SetStatus ",
                                   kDo + "GOOD! End of the function",
                               }));
    EXPECT_EQ(temp.rfind(m_dir / "~PV", 0), 0u);
    EXPECT_EQ(FileBytes(m_dst), ContainerOf(document));
}

TEST_F(Replacement, ExactTraceInPlace)
{
    WriteFile(m_src, m_document);
    ASSERT_EQ(Encrypt(Writer::Full, m_src, m_src), 1);
    const std::string temp = TemporaryOfTheCall();
    EXPECT_EQ(m_trace.Lines(), (std::vector<std::string>{
                                   kDo + "WATCH! Entering the Function V2, tmpDestPath=" + temp,
                                   kDo + "WATCH! sourceFileSize=2040, sourceFile=" + m_src,
                                   kDo + "WATCH! PadEncrypt, nRead=1016",
                                   kDo + "WATCH! Pad 0, nPadBlockSize=8, nRead=1024",
                                   kDo + "WATCH! Pad 1, VQPVZP+size(8)",
                                   DriveTypeLine(),
                                   kDo + "WATCH! Start Wipeout",
                                   kDo + "WATCH! End of Wipeout",
                                   kDo + "WATCH! Start Rename",
                                   kDo + "WATCH! Start Rename [" + temp + "][" + m_src + "]",
                                   kDo + "WATCH! End Rename ",
                                   kDo + "WATCH! Start SetStatus ",
                                   kDo + "WATCH! End SetStatus ",
                                   kDo + "GOOD! End of the function",
                               }));
    EXPECT_EQ(FileBytes(m_src), ContainerOf(m_document));
    EXPECT_EQ(Entries(m_dir.Path()), std::vector<std::string>{"plain.doc"});
    EXPECT_EQ(fault::Sleeps(), std::vector<DWORD>{20}) << "the destination probe";

    // The streaming writer has no closing lines.
    WriteFile(m_src, m_document);
    m_trace.Clear();
    ASSERT_EQ(Encrypt(Writer::Streaming, m_src, m_src), 1);
    EXPECT_EQ(m_trace.Lines(), (std::vector<std::string>{
                                   k2 + "WATCH! Entering the Function V2, tmpDestPath=" + TemporaryOfTheCall(),
                                   k2 + "WATCH! sourceFileSize=2040, sourceFile=" + m_src,
                                   k2 + "WATCH! PadEncrypt, nRead=1016",
                                   k2 + "WATCH! Pad 0, nPadBlockSize=8, nRead=1024",
                                   DriveTypeLine(),
                                   k2 + "WATCH! Start Wipeout",
                                   k2 + "WATCH! End of Wipeout",
                               }));
    EXPECT_EQ(FileBytes(m_src), ContainerOf(m_document));
}

// An older file at the destination: wiped out, under its own name or (with
// Explorer's "IconsOnly") under its ".wipeout" name, or deleted normally
// when the wipe fails. A failed normal deletion ends the call with 0 and
// keeps the complete container in its temporary file.
struct ReplaceCase {
    const char* name;
    bool iconsOnly;
    unsigned failWipe;  // 0: none
    unsigned failMove;
    bool failRemove;
    int result;
    std::vector<std::string> lines;  // with W for the writer's prefix and D for the destination
    const char* olderUnder;          // where the older file is afterwards ("" when gone)
};

void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.name; }

// "W" stands for the writer's prefix; "N" for that of its normal-deletion
// line, which in the full writer names "CCCCPVCodec".
std::string Expand(std::string line, const std::string& writer, const std::string& dst)
{
    if (line.rfind("W", 0) == 0)
        line = writer + line.substr(1);
    else if (line.rfind("N", 0) == 0)
        line = (writer == kDo ? "[PVCodec.dll]CCCCPVCodec::DoEncryptFile() " : k2) + line.substr(1);
    if (size_t at = line.find("<D>"); at != std::string::npos)
        line.replace(at, 3, dst);
    return line;
}

class DestinationReplacement : public Replacement, public ::testing::WithParamInterface<ReplaceCase> {};

TEST_P(DestinationReplacement, WipeOrDelete)
{
    const ReplaceCase& c = GetParam();
    for (Writer writer : kWriters) {
        SCOPED_TRACE(writer == Writer::Full ? "DoEncryptFile" : "EncryptFile2");
        const std::string& who = Prefix(writer);
        Reseat();
        RemoveAllFiles();
        WriteFile(m_src, m_document);
        WriteBytes(m_dst, "older");
        if (c.iconsOnly)
            m_registry.WriteUtf16("HKEY_CURRENT_USER", kIconsOnly);
        if (c.failWipe)
            fault::FailNthCall(fault::Op::WipeOutFile, c.failWipe, fault::Failure{ERROR_ACCESS_DENIED});
        if (c.failMove)
            fault::FailNthCall(fault::Op::MoveFileW, c.failMove, fault::Failure{ERROR_ACCESS_DENIED});
        if (c.failRemove)
            fault::FailNthCall(fault::Op::FileRemove, 1, fault::Failure{ERROR_ACCESS_DENIED});
        m_trace.Clear();

        EXPECT_EQ(Encrypt(writer, m_src, m_dst), c.result);
        std::vector<std::string> expected;
        for (const std::string& line : c.lines)
            expected.push_back(Expand(line, who, m_dst));
        std::vector<std::string> seen;
        for (const std::string& line : m_trace.Lines())
            if (line.find("Wipeout") != std::string::npos || line.find("DELETE") != std::string::npos)
                seen.push_back(line);
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(FileBytes(m_src), m_document) << "the source is never touched";

        const std::vector<std::string> temps = Temporaries(m_dir.Path());
        if (c.result == 1) {
            EXPECT_EQ(FileBytes(m_dst), ContainerOf(m_document));
            EXPECT_TRUE(temps.empty());
        } else {
            ASSERT_EQ(temps.size(), 1u);
            EXPECT_EQ(FileBytes(temps[0]), ContainerOf(m_document));
        }
        if (*c.olderUnder != 0) {
            EXPECT_EQ(ReadBytes(m_dir / c.olderUnder), "older");
        }
        EXPECT_EQ(Exists(m_dir / "out.pvd.wipeout"), std::string(c.olderUnder) == "out.pvd.wipeout");
        m_registry.Remove("HKEY_CURRENT_USER");
    }
}

const std::string kStart = "WWATCH! Start Wipeout";
const std::string kEnd = "WWATCH! End of Wipeout";
const std::string kFail = "WBAD! FAIL Wipeout";
const std::string kNormal = "NBAD! FAIL or SKIP Wipeout NOW NORMAL DELETE FILE..., szDestPath=<D>";
const std::string kNormalFailed = "WERROR! FAIL NORMAL DELETE FILE Encryption Fail..., szDestPath=<D>";

INSTANTIATE_TEST_SUITE_P(
    Cases, DestinationReplacement,
    ::testing::Values(
        ReplaceCase{"WipedUnderItsName", false, 0, 0, false, 1, {kStart, kEnd}, ""},
        ReplaceCase{"WipedUnderWipeoutName", true, 0, 0, false, 1,
                    {kStart + "=<D>.wipeout", kEnd + "=<D>.wipeout"}, ""},
        ReplaceCase{"WipeoutNameRefused", true, 0, 1, false, 1, {kStart, kEnd}, ""},
        ReplaceCase{"WipeFailsThenDeleted", false, 1, 0, false, 1, {kStart, kFail, kNormal}, ""},
        ReplaceCase{"WipeFailsUnderWipeoutName", true, 1, 0, false, 0,
                    {kStart + "=<D>.wipeout", kFail, kNormal, kNormalFailed}, "out.pvd.wipeout"},
        ReplaceCase{"NormalDeletionFails", false, 1, 0, true, 0, {kStart, kFail, kNormal, kNormalFailed}, "out.pvd"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Replacement, RenameSucceedsOnTheThirdMove)
{
    WriteFile(m_src, m_document);
    WriteBytes(m_dst, "older");
    FailRenameAndMoves(2);
    ASSERT_EQ(Encrypt(Writer::Full, m_src, m_dst), 1);
    const std::string temp = TemporaryOfTheCall();
    EXPECT_EQ(LinesFrom(kDo + "WATCH! Start Rename"),
              (std::vector<std::string>{
                  kDo + "WATCH! Start Rename",
                  kDo + "WATCH! Start Rename [" + temp + "][" + m_dst + "]",
                  kDo + "ERROR! Fail CFile::Rename(), m_cause=11",
                  "[PVCodec.dll] WATCH! i=0, Sleep and MoveFile",
                  "[PVCodec.dll] WATCH! i=1, Sleep and MoveFile",
                  "[PVCodec.dll] WATCH! i=2, Sleep and MoveFile",
                  "[PVCodec.dll] GOOD! MoveFile Success",
                  kDo + "WATCH! End Rename ",
                  kDo + "WATCH! Start SetStatus ",
                  kDo + "WATCH! End SetStatus ",
                  kDo + "GOOD! End of the function",
              }));
    EXPECT_EQ(fault::Sleeps(), (std::vector<DWORD>{20, 1000, 1000, 1000}));
    EXPECT_EQ(FileBytes(m_dst), ContainerOf(m_document));
    EXPECT_EQ(Entries(m_dir.Path()), (std::vector<std::string>{"out.pvd", "plain.doc"}));
}

// Every move fails: the older file is already gone and the container stays
// in its temporary file. In place, that file is all that is left of the
// document, and it reads back.
TEST_F(Replacement, RenameFailsThroughout)
{
    for (bool inPlace : {false, true}) {
        SCOPED_TRACE(inPlace ? "in place" : "new path");
        Reseat();
        RemoveAllFiles();
        WriteFile(m_src, m_document);
        const std::string dst = inPlace ? m_src : m_dst;
        if (!inPlace)
            WriteBytes(m_dst, "older");
        FailRenameAndMoves(5);
        m_trace.Clear();
        EXPECT_EQ(Encrypt(Writer::Full, m_src, dst), 0);
        const std::vector<std::string> lines = m_trace.Lines();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "[PVCodec.dll] WATCH! i=4, Sleep and MoveFile");
        EXPECT_EQ(lines.back(), kDo + "ERROR! Fail MoveFile()");
        EXPECT_EQ(fault::Sleeps(), (std::vector<DWORD>{20, 1000, 1000, 1000, 1000, 1000}));
        EXPECT_FALSE(Exists(dst));
        const std::vector<std::string> temps = Temporaries(m_dir.Path());
        ASSERT_EQ(temps.size(), 1u);
        EXPECT_EQ(Decrypt(FileBytes(temps[0]), Offset()), m_document);
    }
}

// Times outside 1970 to 2037 are not carried over, nor the attributes: the
// result keeps those of its own making.
TEST_F(Replacement, TimesOutOfRange)
{
    for (Writer writer : kWriters) {
        std::remove(m_dst.c_str());
        ::chmod(m_src.c_str(), 0644);
        WriteFile(m_src, m_document);
        const timespec times[2] = {{-86400 * 200, 0}, {-86400, 0}};  // 1969
        ASSERT_EQ(::utimensat(AT_FDCWD, m_src.c_str(), times, 0), 0);
        ::chmod(m_src.c_str(), 0444);
        m_trace.Clear();
        ASSERT_EQ(Encrypt(writer, m_src, m_dst), 1);
        const std::string& who = Prefix(writer);
        EXPECT_TRUE(m_trace.Contains(who + "BAD! File Time is out of range, szShortSrcPath=" + m_src));
        EXPECT_GT(StatTime(m_dst, false).tv_sec, 1600000000);
        EXPECT_NE(ModeOf(m_dst) & 0200, 0u) << "not read-only";
        if (writer == Writer::Full) {
            EXPECT_EQ(LinesFrom(kDo + "WATCH! End Rename "),
                      (std::vector<std::string>{kDo + "WATCH! End Rename ", kDo + "WATCH! End SetStatus ",
                                                kDo + "GOOD! End of the function"}));
        }
    }
}

// A read-only destination that nobody holds open is replaced.
TEST_F(Replacement, ReadOnlyDestination)
{
    for (Writer writer : kWriters) {
        WriteFile(m_src, m_document);
        WriteBytes(m_dst, "older");
        ::chmod(m_dst.c_str(), 0444);
        ASSERT_EQ(Encrypt(writer, m_src, m_dst), 1);
        EXPECT_EQ(FileBytes(m_dst), ContainerOf(m_document));
        EXPECT_NE(ModeOf(m_dst) & 0200, 0u) << "the source's attributes";
        std::remove(m_dst.c_str());
    }
}

// Paths of 256 characters and more go through their short forms, which here
// are the paths themselves; a destination that does not exist yet gets its
// short form after the rename, so the status still reaches it.
TEST_F(Replacement, LongPaths)
{
    std::string folder = m_dir.Path();
    while (folder.size() < 280) {
        folder += "/" + std::string(60, 'f');
        std::filesystem::create_directory(folder);
    }
    const std::string src = folder + "/" + std::string(20, 's');
    const std::string dst = folder + "/" + std::string(20, 'd');
    ASSERT_GE(src.size(), 256u);
    const timespec written{1200000000, 500};
    for (Writer writer : kWriters) {
        for (const char* kind : {"absent", "existing", "in place"}) {
            SCOPED_TRACE(testing::Message() << (writer == Writer::Full ? "full " : "streaming ") << kind);
            WriteFile(src, m_document);
            const timespec times[2] = {written, written};
            ::utimensat(AT_FDCWD, src.c_str(), times, 0);
            const std::string target = std::string(kind) == "in place" ? src : dst;
            if (std::string(kind) == "existing")
                WriteBytes(dst, "older");
            m_trace.Clear();
            ASSERT_EQ(Encrypt(writer, src, target), 1);
            EXPECT_EQ(FileBytes(target), ContainerOf(m_document));
            EXPECT_TRUE(SameTime(StatTime(target, false), written));
            EXPECT_FALSE(m_trace.ContainsText("Fail CFile::SetStatus()"));
            EXPECT_EQ(Temporaries(folder), std::vector<std::string>{});
            std::remove(dst.c_str());
        }
    }
}

}  // namespace
