// A wrong key, for each cipher and every reader of it: the failure result,
// the container byte for byte as it was (decrypted in place too), no
// destination made or replaced, and the "~PV" temporary file that a failed
// file driver leaves behind (its size tells what it holds); a pad decryption
// of a piece that is not whole blocks is refused as well.
//
// Every document here ends in a padded piece: a body of whole 1024-byte
// segments has no padding to check, and a wrong key goes unnoticed there
// (MemoryReader.WrongKeyGoesUnnoticedWithoutAPaddedEnd).
#include "container/ContainerFormat.h"
#include "support/DecryptionFixture.h"

#include <cstring>
#include <string>
#include <vector>

using namespace decryption;
using readercontainers::Form;
using readercontainers::KeyArg;
using container::ENC_BUFFER_SIZE;

namespace {

// The padding check passes a wrong key about once in 255 tries (the last
// deciphered block is then effectively random and happens to end in valid
// padding). The outcome is fixed for a given key and container: this key
// fails the check for every cipher and size below.
const std::string& kWrongKey = readercontainers::kWrongKey;

enum class Reader { FileW, File2, RDFile, FileToMemory, FileToMemory2, MemoryToMemory, PadDecrypt };

const char* ReaderName(Reader reader)
{
    switch (reader) {
    case Reader::FileW: return "DecryptFileW";
    case Reader::File2: return "DecryptFile2";
    case Reader::RDFile: return "RDDecryptFile";
    case Reader::FileToMemory: return "DecryptFileToMemory";
    case Reader::FileToMemory2: return "DecryptFileToMemory2";
    case Reader::MemoryToMemory: return "DecryptMemoryToMemory";
    case Reader::PadDecrypt: return "SFPadDecryptEx";
    }
    return "?";
}

struct WrongKeyCase {
    Form form;  // Default (Rijndael), ExtendedA (ARIA) or ExtendedT (ATE)
    Reader reader;
};

int AlgorithmOf(Form form)
{
    return form == Form::ExtendedA ? 1 : form == Form::ExtendedT ? 2 : 0;
}

// A final piece alone (100), a segment and a padded tail (1500), and a
// zero-filled last segment with the trailer (2040; an ARIA body of 3000).
std::vector<size_t> Sizes(Form form)
{
    if (form == Form::ExtendedA)
        return {100, 1500, 3000};
    return {100, 1500, 2040};
}

constexpr char kFill = static_cast<char>(0x5A);

class WrongKey : public FileDecryption, public ::testing::WithParamInterface<WrongKeyCase> {
protected:
    // One file driver into a new file, over an older one and in place.
    void FileDriver(const Driver& driver, const readercontainers::Container& container)
    {
        const int64_t body = static_cast<int64_t>(container.bytes.size()) - container.offset;
        // What the failed call leaves in its temporary file: an ARIA body's
        // block part (the size check fails after it); the segments that
        // DecryptFile2 has written; nothing from DecryptFileW, which fails
        // before its image is written.
        const int64_t leftBehind = GetParam().form == Form::ExtendedA ? body - 16
                                   : driver.full                      ? 0
                                                                      : body / ENC_BUFFER_SIZE * ENC_BUFFER_SIZE;
        for (const std::string target : {"new", "over", "in_place"}) {
            SCOPED_TRACE(target);
            const std::string source = Put(container.bytes);
            const std::string destination = target == "in_place" ? source : Path("doc.txt");
            if (target == "over")
                WriteBytes(destination, "older");
            EXPECT_EQ(Run(driver, source, destination, container.offset, kWrongKey), 0);
            EXPECT_TRUE(Contents(source) == container.bytes);
            if (target == "new") {
                EXPECT_FALSE(Exists(destination));
            } else if (target == "over") {
                EXPECT_EQ(ReadBytes(destination), "older");
            }
            containerfiles::ExpectTemporaryAndRemove(m_dir.Path(), leftBehind);
            ::unlink(destination.c_str());
        }
    }

    void MemoryReader(Reader reader, const readercontainers::Container& container)
    {
        const std::string path = Put(container.bytes);
        const std::u16string wide = Wide(path);
        Bytes source = container.bytes;
        Bytes output(32 + container.bytes.size(), kFill);
        int size = -1;
        int result = -1;
        switch (reader) {
        case Reader::FileToMemory:
            result = CPVCodec::DecryptFileToMemory(wide.c_str(), output.data(), &size, KeyArg(kWrongKey),
                                                   container.offset);
            break;
        case Reader::FileToMemory2:
            result = CPVCodec::DecryptFileToMemory2(wide.c_str(), output.data(), &size, KeyArg(kWrongKey),
                                                    container.offset);
            break;
        default:
            result = CPVCodec::DecryptMemoryToMemory(source.data(), output.data(), static_cast<int>(source.size()),
                                                     &size, KeyArg(kWrongKey), container.offset);
            break;
        }
        EXPECT_EQ(result, 0);
        EXPECT_EQ(size, -1);  // written only on success
        int32_t stored = 0;
        std::memcpy(&stored, output.data(), 4);
        // The readers from a file store the body length before they decrypt.
        EXPECT_EQ(stored, reader == Reader::MemoryToMemory ? 0x5A5A5A5A
                                                           : static_cast<int32_t>(container.bytes.size()) -
                                                                 container.offset);
        EXPECT_TRUE(source == container.bytes);
        EXPECT_TRUE(Contents(path) == container.bytes);
        EXPECT_TRUE(Temporaries().empty());
    }

    // The raw pad decryption: a wrong key, and with the right key a piece
    // that is not whole blocks, give the cipher's failure result.
    static void PadDecrypt(int algorithm, size_t size)
    {
        const Bytes document = readercontainers::DocumentOf(size);
        Bytes padded(size + 16), out(size + 16, kFill);
        const int n = CPVCodec::SFPadEncryptEx(const_cast<char*>(document.data()), padded.data(),
                                               KeyArg(readercontainers::kKey), static_cast<int>(size), algorithm);
        ASSERT_EQ(n, static_cast<int>(size / 16 * 16 + 16));
        const int refused = algorithm == 0 ? -7 : -1;
        EXPECT_EQ(CPVCodec::SFPadDecryptEx(padded.data(), out.data(), KeyArg(kWrongKey), n, algorithm), refused);
        for (int cut : {4, 15})
            EXPECT_EQ(CPVCodec::SFPadDecryptEx(padded.data(), out.data(), KeyArg(readercontainers::kKey), n - cut,
                                               algorithm),
                      refused)
                << cut;
        ASSERT_EQ(CPVCodec::SFPadDecryptEx(padded.data(), out.data(), KeyArg(readercontainers::kKey), n, algorithm),
                  static_cast<int>(size));
    }
};

TEST_P(WrongKey, FailsAndLeavesTheContainerAsItWas)
{
    const WrongKeyCase& c = GetParam();
    if (!readercontainers::Available(c.form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    for (size_t size : Sizes(c.form)) {
        SCOPED_TRACE(size);
        const readercontainers::Container& container = readercontainers::Make(c.form, size);
        switch (c.reader) {
        case Reader::FileW: FileDriver(kFull, container); break;
        case Reader::File2: FileDriver(kStreaming, container); break;
        case Reader::RDFile: FileDriver(kForwarding, container); break;
        case Reader::PadDecrypt: PadDecrypt(AlgorithmOf(c.form), size); break;
        default: MemoryReader(c.reader, container); break;
        }
    }
}

std::vector<WrongKeyCase> Cases()
{
    std::vector<WrongKeyCase> cases;
    for (Form form : {Form::Default, Form::ExtendedA, Form::ExtendedT})
        for (Reader reader : {Reader::FileW, Reader::File2, Reader::RDFile, Reader::FileToMemory,
                              Reader::FileToMemory2, Reader::MemoryToMemory, Reader::PadDecrypt})
            cases.push_back({form, reader});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(CipherAndReader, WrongKey, ::testing::ValuesIn(Cases()), [](const auto& info) {
    const char* cipher = info.param.form == Form::ExtendedA   ? "ARIA"
                         : info.param.form == Form::ExtendedT ? "ATE"
                                                              : "Rijndael";
    return std::string(cipher) + "_" + ReaderName(info.param.reader);
});

}  // namespace
