// A wrong key, for each cipher and every reader of it: the failure result, the container byte for
// byte as it was (decrypted in place too), no destination made or replaced, and the "~PV" file a
// failed file driver leaves (its size tells what it holds). Every document here ends in a padded
// piece: a body of whole segments has no padding to check, and a wrong key goes unnoticed there.
// This key fails the padding check (passed about once in 255 keys) for every cipher and size below.
#include "container/ContainerFormat.h"
#include "support/DecryptionFixture.h"

#include <cstring>

using namespace decryption;
using readercontainers::Form;
using readercontainers::KeyArg;

namespace {

const std::string& kWrongKey = readercontainers::kWrongKey;
constexpr char kFill = static_cast<char>(0x5A);

class WrongKey : public FileDecryption, public ::testing::WithParamInterface<Form> {};

TEST_P(WrongKey, EveryReaderFailsAndLeavesTheContainerAsItWas)
{
    const Form form = GetParam();
    if (!readercontainers::Available(form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const int algorithm = form == Form::ExtendedA ? 1 : form == Form::ExtendedT ? 2 : 0;
    // A final piece alone, a segment and a padded tail, and a zero-filled last segment with the trailer.
    for (size_t size : {size_t{100}, size_t{1500}, size_t{form == Form::ExtendedA ? 3000u : 2040u}}) {
        const readercontainers::Container& container = readercontainers::Make(form, size);
        const int64_t body = static_cast<int64_t>(container.bytes.size()) - container.offset;
        for (const Driver& driver : {kFull, kStreaming, kForwarding}) {
            // Left: an ARIA body's block part (the size check fails after it), the segments DecryptFile2
            // wrote, nothing from DecryptFileW (it fails before its image is written).
            const int64_t segments = body / container::ENC_BUFFER_SIZE * container::ENC_BUFFER_SIZE;
            const int64_t left = form == Form::ExtendedA ? body - 16 : driver.full ? 0 : segments;
            for (const std::string target : {"new", "over", "in_place"}) {
                SCOPED_TRACE(testing::Message() << size << " " << driver.name << " " << target);
                const std::string source = Put(container.bytes);
                const std::string destination = target == "in_place" ? source : Path("doc.txt");
                if (target == "over")
                    WriteBytes(destination, "older");
                EXPECT_EQ(Run(driver, source, destination, container.offset, kWrongKey), 0);
                EXPECT_TRUE(Contents(source) == container.bytes);
                EXPECT_EQ(target == "in_place" || Exists(destination), target != "new");
                EXPECT_EQ(target == "over" ? ReadBytes(destination) : "", target == "over" ? "older" : "");
                containerfiles::ExpectTemporaryAndRemove(m_dir.Path(), left);
                ::unlink(Path("doc.txt").c_str());
            }
        }
        // The readers into memory: the readers from a file store the body length before they decrypt.
        const std::u16string path = Wide(Put(container.bytes));
        for (int reader = 0; reader < 3; ++reader) {
            SCOPED_TRACE(testing::Message() << size << " memory reader " << reader);
            Bytes source = container.bytes, output(32 + container.bytes.size(), kFill);
            int written = -1;
            const int result =
                reader == 0 ? CPVCodec::DecryptFileToMemory(path.c_str(), output.data(), &written, KeyArg(kWrongKey),
                                                            container.offset)
                : reader == 1
                    ? CPVCodec::DecryptFileToMemory2(path.c_str(), output.data(), &written, KeyArg(kWrongKey),
                                                     container.offset)
                    : CPVCodec::DecryptMemoryToMemory(source.data(), output.data(), static_cast<int>(source.size()),
                                                      &written, KeyArg(kWrongKey), container.offset);
            EXPECT_EQ(result, 0);
            EXPECT_EQ(written, -1);  // set only on success
            int32_t stored = 0;
            std::memcpy(&stored, output.data(), 4);
            EXPECT_EQ(stored, reader == 2 ? 0x5A5A5A5A : static_cast<int32_t>(body));
            EXPECT_TRUE(source == container.bytes);
            EXPECT_TRUE(Contents(Path("doc.pvc")) == container.bytes);
            EXPECT_TRUE(Temporaries().empty());
        }
        // The raw pad decryption: a wrong key, or the right key on a piece that is not whole blocks.
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
                      refused);
        EXPECT_EQ(CPVCodec::SFPadDecryptEx(padded.data(), out.data(), KeyArg(readercontainers::kKey), n, algorithm),
                  static_cast<int>(size));
    }
}

INSTANTIATE_TEST_SUITE_P(Ciphers, WrongKey, ::testing::Values(Form::Default, Form::ExtendedA, Form::ExtendedT),
                         [](const auto& info) { return std::string(readercontainers::FormName(info.param)); });

}  // namespace
