// Every file writer with every reader: a document encrypted in place by
// DoEncryptFile (each header form and cipher) or EncryptFile2 reads back
// through DecryptFileW, DecryptFile2 and the two readers into memory, and
// decrypts in place again to the original bytes.
#include "support/DecryptionFixture.h"

#include <string>
#include <vector>

using namespace decryption;

namespace {

struct Writer {
    const char* name;
    unsigned mode;  // DoEncryptFile's header mode; EncryptFile2 when streaming
    char tag;       // mode 2
    bool streaming;
};

const Writer kWriters[] = {
    {"DoEncryptFile_default", 0, 0, false},  {"DoEncryptFile_VQPVA003", 1, 0, false},
    {"DoEncryptFile_R", 2, 'R', false},      {"DoEncryptFile_T", 2, 'T', false},
    {"DoEncryptFile_A", 2, 'A', false},      {"EncryptFile2", 0, 0, true},
};

class WriterPairs : public FileDecryption,
                    public ::testing::WithParamInterface<std::tuple<Writer, size_t>> {};

TEST_P(WriterPairs, ReadBackThroughEveryReader)
{
    const auto& [writer, size] = GetParam();
    const int algorithm = writer.tag == 'A' ? 1 : writer.tag == 'T' ? 2 : 0;
    const readercontainers::Form form = algorithm == 1   ? readercontainers::Form::ExtendedA
                                        : algorithm == 2 ? readercontainers::Form::ExtendedT
                                                         : readercontainers::Form::Default;
    if (!readercontainers::Available(form))
        GTEST_SKIP() << "the outside crypto library is not at hand";

    const Bytes document = readercontainers::DocumentOf(size);
    const std::string path = Put(document, "doc.bin");
    const std::u16string wide = Wide(path);
    Bytes header = readercontainers::Header();
    const int n = static_cast<int>(header.size());
    Bytes magic = {'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0};
    Bytes prefix = reference::ExtendedPrefix(writer.tag);
    char* key = readercontainers::KeyArg(readercontainers::kKey);
    const int written =
        writer.streaming
            ? CPVCodec::EncryptFile2(wide.c_str(), wide.c_str(), key, header.data(), n, nullptr)
            : CPVCodec::DoEncryptFile(wide.c_str(), wide.c_str(), key, header.data(), n, nullptr, writer.mode,
                                      writer.mode == 1 ? magic.data() : writer.mode == 2 ? prefix.data() : nullptr);
    ASSERT_EQ(written, 1);
    const Bytes container = Contents(path);
    const int offset = (writer.mode == 2 ? 92 : 14) + n;

    for (const Driver& driver : {kFull, kStreaming}) {
        const std::string destination = Path(std::string(driver.name) + ".txt");
        ASSERT_EQ(Run(driver, path, destination, offset), 1) << driver.name;
        EXPECT_TRUE(Contents(destination) == document) << driver.name;
    }
    // The readers into memory take every body as segmented: an ARIA body
    // reads back only where it is not a whole number of segments.
    const bool memoryReadsIt = algorithm != 1 || (container.size() - offset) % 1024 != 0;
    for (auto reader : {&CPVCodec::DecryptFileToMemory, &CPVCodec::DecryptFileToMemory2}) {
        Bytes output(32 + container.size());
        int plainSize = -1;
        ASSERT_EQ(reader(wide.c_str(), output.data(), &plainSize, key, offset), 1);
        if (memoryReadsIt) {
            ASSERT_EQ(plainSize, static_cast<int>(size));
            EXPECT_TRUE(std::equal(document.begin(), document.end(), output.begin() + 32));
        }
    }

    ASSERT_EQ(Run(kFull, path, path, offset), 1);
    EXPECT_TRUE(Contents(path) == document);
    EXPECT_TRUE(Temporaries().empty());
}

INSTANTIATE_TEST_SUITE_P(WritersAndSizes, WriterPairs,
                         ::testing::Combine(::testing::ValuesIn(kWriters),
                                            ::testing::Values(1, 1007, 1008, 2040, 10256)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
