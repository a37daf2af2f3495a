// File decryption as the host sees it while it runs: the exact trace lines of
// the main success and failure paths of both drivers (with the files a wrong
// key leaves), and the progress percents sent to a window.
#include "platform/FaultInjection.h"
#include "support/DecryptionFixture.h"

#include <string>
#include <vector>

using namespace decryption;
using readercontainers::Form;
using plat::fault::Op;

namespace {

constexpr int kOffset = 14 + 10;

class DecryptionTrace : public FileDecryption, public ::testing::WithParamInterface<Driver> {
protected:
    // The first line names the temporary file; the rest are returned.
    std::vector<std::string> AfterEntry() const
    {
        EXPECT_FALSE(m_lines.empty());
        if (m_lines.empty())
            return {};
        const std::string entry = Prefix(GetParam()) + "WATCH! Entering the Function V2, tmpDestPath=" + Path("~PV");
        EXPECT_EQ(m_lines[0].rfind(entry, 0), 0u) << m_lines[0];
        return std::vector<std::string>(m_lines.begin() + 1, m_lines.end());
    }
};

TEST_P(DecryptionTrace, SuccessWithATrailer)
{
    const Driver& driver = GetParam();
    const auto& container = readercontainers::Make(Form::Default, 2040);
    ASSERT_EQ(Run(driver, Put(container.bytes), Path("doc.txt"), kOffset), 1);
    const std::string p = Prefix(driver);
    if (driver.full)
        EXPECT_EQ(AfterEntry(), (std::vector<std::string>{
                                    p + "WATCH! Pad 1, nSizeResult(15) VQPVZP+size(8) total(2040)",
                                    p + "WATCH! nDestPos(2040) nBlock(0), nPad(2040) ",
                                    p + "GOOD! End of the function",
                                }));
    else
        EXPECT_EQ(AfterEntry(), (std::vector<std::string>{
                                    p + "WATCH! Pad 1, VQPVZP+size(8)",
                                    p + "GOOD! End of the function",
                                }));
}

TEST_P(DecryptionTrace, SuccessOfAnAriaBody)
{
    const Driver& driver = GetParam();
    if (!readercontainers::Available(Form::ExtendedA))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const auto& container = readercontainers::Make(Form::ExtendedA, 3000);
    ASSERT_EQ(Run(driver, Put(container.bytes), Path("doc.txt"), container.offset), 1);
    const std::string p = Prefix(driver);
    std::vector<std::string> expected = {p + "WATCH! Algorithm ARIA DocSize[3008],BufferSize[2992],PadSize[16]"};
    if (driver.full)
        expected.push_back(p + "WATCH! nDestPos(3000) nBlock(0), nPad(3000) ");
    expected.push_back(p + "GOOD! End of the function");
    EXPECT_EQ(AfterEntry(), expected);
}

TEST_P(DecryptionTrace, WrongKeyAndSizeMismatch)
{
    const Driver& driver = GetParam();
    const std::string p = Prefix(driver);
    // A wrong key: the older destination stays, the temporary file with it,
    // and no 100 is sent after the segments' percents.
    const auto& container = readercontainers::Make(Form::Default, 1500);
    const std::string source = Put(container.bytes);
    WriteBytes(Path("doc.txt"), "older");
    ProgressWindow window;
    EXPECT_EQ(Run(driver, source, Path("doc.txt"), kOffset, readercontainers::kWrongKey, window.Handle()), 0);
    std::vector<std::string> lines = AfterEntry();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind(p + "ERROR! padDecrypt fail nRead=480, nSizeResult=-", 0), 0u) << lines[0];
    EXPECT_EQ(ReadBytes(Path("doc.txt")), "older");
    EXPECT_EQ(Temporaries().size(), 1u);
    EXPECT_EQ(window.Percents(), (std::vector<int>{68}));

    // An ARIA body of 0 bytes has no final piece: nothing is read and the
    // missing 16 bytes fail the size check.
    if (readercontainers::Available(Form::ExtendedA)) {
        const auto& aria = readercontainers::Make(Form::ExtendedA, 100);
        const Bytes headerOnly(aria.bytes.begin(), aria.bytes.begin() + aria.offset);
        EXPECT_EQ(Run(driver, Put(headerOnly, "empty.pvc"), Path("empty.txt"), aria.offset), 0);
        std::vector<std::string> expected = {p + "WATCH! Algorithm ARIA DocSize[0],BufferSize[-16],PadSize[16]"};
        if (driver.full)
            expected.push_back(p + "WATCH! nDestPos(0) nBlock(0), nPad(0) ");
        expected.push_back(p + "ERROR! Src file Read size is incorrect, nTotalSrcFileReadSize=16, nDocSize=0");
        EXPECT_EQ(AfterEntry(), expected);
    }
}

TEST_P(DecryptionTrace, PreparationFailures)
{
    const Driver& driver = GetParam();
    const std::string p = Prefix(driver);
    const std::string source = Put(readercontainers::Make(Form::Default, 100).bytes);
    {
        plat::fault::Scope seam;
        plat::fault::FailNthCall(Op::GetTempFileNameW, 1, {plat::ERROR_ACCESS_DENIED, -1});
        EXPECT_EQ(Run(driver, source, Path("doc.txt"), kOffset), 0);
        EXPECT_EQ(m_lines, (std::vector<std::string>{p + "BAD! Fail GetTempFileName path=" + m_dir.Path()}));
    }
    {
        plat::fault::Scope seam;
        plat::fault::FailNthCall(Op::FileOpen, 2, {plat::ERROR_ACCESS_DENIED, -1});  // the temporary file
        EXPECT_EQ(Run(driver, source, Path("doc.txt"), kOffset), 0);
        ASSERT_EQ(m_lines.size(), 2u);
        const std::string temporary = m_lines[0].substr(m_lines[0].find("tmpDestPath=") + 12);
        EXPECT_EQ(m_lines[1], p + "BAD! tmpDest file open fail path=" + temporary);
        EXPECT_TRUE(Temporaries().empty());
    }
    EXPECT_EQ(Run(driver, Path("missing.pvc"), Path("doc.txt"), kOffset), 0);
    const std::vector<std::string> lines = AfterEntry();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], p + "BAD! src file open fail path=" + Path("missing.pvc"));
    EXPECT_EQ(lines[1].rfind("CODE=2, MSG=", 0), 0u) << lines[1];
    EXPECT_FALSE(Exists(Path("doc.txt")));
}

INSTANTIATE_TEST_SUITE_P(Drivers, DecryptionTrace, ::testing::Values(kFull, kStreaming),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Progress

struct ProgressCase {
    const char* name;
    Form form;
    size_t document;
    std::vector<int> percents;
};

class DecryptionProgress : public FileDecryption,
                           public ::testing::WithParamInterface<std::tuple<Driver, ProgressCase>> {};

TEST_P(DecryptionProgress, PercentsSentToTheWindow)
{
    const auto& [driver, c] = GetParam();
    if (!readercontainers::Available(c.form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const auto& container = readercontainers::Make(c.form, c.document);
    ProgressWindow window;
    ASSERT_EQ(Run(driver, Put(container.bytes), Path("doc.txt"), container.offset, readercontainers::kKey,
                  window.Handle()),
              1);
    EXPECT_EQ(window.Percents(), c.percents);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, DecryptionProgress,
    ::testing::Combine(
        ::testing::Values(kFull, kStreaming),
        ::testing::Values(
            // The percents follow the body's length, not the document's (the
            // reporter's own steps are FileDriverSupport's test): 10,256 bytes
            // are ten segments and a 16-byte final piece.
            ProgressCase{"body_10256", Form::Default, 10245, {9, 19, 29, 39, 49, 59, 69, 79, 89, 99, 100}},
            ProgressCase{"body_10240", Form::Bare, 10240, {10, 20, 30, 40, 50, 60, 70, 80, 90, 100}},
            ProgressCase{"aria", Form::ExtendedA, 10240, {100}})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param).name;
    });

}  // namespace
