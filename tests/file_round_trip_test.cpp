// Every header form and cipher at the sizes where the layout changes: the writers make the reference bytes and
// the readers give the document back (new, over an older file, in place), the source kept, no "~PV" left.
#include "platform/FaultInjection.h"
#include "support/DecryptionFixture.h"

using namespace decryption;
using containerfiles::FileBytes;
using readercontainers::Form;

namespace {

struct FormCase {
    const char* name;
    Form form;
    unsigned mode;  // 7: unknown, taken for the default
};
const FormCase kForms[] = {{"bare", Form::Bare, 0},          {"default", Form::Default, 0},
                           {"unknown_mode", Form::Default, 7}, {"caller_magic", Form::CallerMagic, 1},
                           {"extended_R", Form::ExtendedR, 2}, {"extended_T", Form::ExtendedT, 2},
                           {"extended_A", Form::ExtendedA, 2}};

// Without a header the size check still subtracts 14: the body must be 14 bytes longer, or the document empty.
bool Writable(Form form, size_t size)
{
    const size_t t = size % 1024;
    return form != Form::Bare || size == 0 || t >= 1008 || (t >= 1 && t % 16 <= 2);
}

class FileRoundTrip : public FileDecryption, public ::testing::WithParamInterface<FormCase> {
protected:
    void SetUp() override { plat::fault::UseVirtualClock(true); }  // the destination probe's 20 ms
    plat::fault::Scope m_seam;
};

TEST_P(FileRoundTrip, WritersMakeTheSameBytesAndReadersGiveTheDocumentBack)
{
    const FormCase& c = GetParam();
    const bool outside = c.form == Form::ExtendedA || c.form == Form::ExtendedT;
    std::vector<size_t> sizes = {0, 1, 15, 16, 1007, 1008, 1016, 1023, 1024, 1025, 2040, 2048, 10256};
    if (c.form == Form::Default || outside)
        sizes.push_back((3u << 20) + 1017);
    for (size_t size : sizes) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        if (c.form == Form::ExtendedA && size == 0)
            continue;  // refused: AriaRefusesAnEmptyDocument
        Bytes header = readercontainers::Header(), magic;
        if (c.form == Form::CallerMagic)
            magic = {'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0};
        else if (c.mode == 2)
            magic = reference::ExtendedPrefix(readercontainers::FormName(c.form)[9]);
        const bool bare = c.form == Form::Bare;
        char* h = bare ? nullptr : header.data();
        const int n = bare ? 0 : static_cast<int>(header.size());
        const int offset = bare ? 0 : (c.mode == 2 ? 92 : 14) + n;
        const Bytes document = readercontainers::DocumentOf(size);
        const Bytes body = reference::SegmentedBody(readercontainers::kKey, document);
        const Bytes head = c.mode == 2 ? reference::ExtendedHeader(magic, header)
                           : reference::DefaultHeader(c.form == Form::Default ? "VQPVA002" : "VQPVA003", header);
        Bytes expected = bare ? body : reference::Concat(head, body);
        if (outside) {
            if (!readercontainers::Available(c.form))
                GTEST_SKIP() << "the outside crypto library is not at hand";
            expected = readercontainers::Make(c.form, size).bytes;
            EXPECT_EQ(containerfiles::Decrypt(expected, offset), document);
        } else if (!bare && size < 20000) {
            EXPECT_EQ(containerfiles::MemoryContainer(document, h, n, c.mode, magic.data()), expected);
        }
        const bool writable = Writable(c.form, size);
        // The writers: to a new path, in place, and streaming (the default form only).
        const std::string plain = Put(document, "plain.doc");
        ASSERT_EQ(CPVCodec::DoEncryptFile(Wide(plain).c_str(), Wide(Path("new.pvd")).c_str(), containerfiles::Key(),
                                          h, n, nullptr, c.mode, magic.empty() ? nullptr : magic.data()),
                  writable ? 1 : 0);
        EXPECT_TRUE(Contents(plain) == document);
        EXPECT_TRUE(writable ? FileBytes(Path("new.pvd")) == expected : !Exists(Path("new.pvd")));
        const std::string inPlace = Put(document, "Report.DOC");
        ASSERT_EQ(CPVCodec::DoEncryptFile(Wide(inPlace).c_str(), Wide(inPlace).c_str(),
                                          containerfiles::Key(), h, n, nullptr, c.mode,
                                          magic.empty() ? nullptr : magic.data()),
                  writable ? 1 : 0);
        EXPECT_TRUE(Contents(inPlace) == (writable ? expected : document));
        if (c.mode != 1 && c.mode != 2) {
            ASSERT_EQ(CPVCodec::EncryptFile2(Wide(plain).c_str(), Wide(Path("streamed.pvd")).c_str(),
                                             containerfiles::Key(), h, n, nullptr),
                      writable ? 1 : 0);
            EXPECT_TRUE(writable ? FileBytes(Path("streamed.pvd")) == expected : !Exists(Path("streamed.pvd")));
            for (const std::string& temp : Temporaries())
                ::unlink(temp.c_str());  // a failed streaming call leaves its own
        }
        EXPECT_TRUE(Temporaries().empty());
        // The readers, from the expected container.
        for (const Driver& driver : {kFull, kStreaming, kForwarding}) {
            for (const char* target : {"new", "over", "in_place"}) {
                if (driver.fn == kForwarding.fn && target[0] != 'n')
                    continue;
                SCOPED_TRACE(std::string(driver.name) + " " + target);
                const std::string source = Put(expected, "doc.pvc");
                const std::string destination = target[0] == 'i' ? source : Path("doc.txt");
                if (target[0] == 'o')
                    WriteBytes(destination, "an older file in the way");
                ASSERT_EQ(Run(driver, source, destination, offset), 1);
                EXPECT_TRUE(Contents(destination) == document);
                EXPECT_TRUE(target[0] == 'i' || Contents(source) == expected);
                EXPECT_TRUE(Temporaries().empty());
                EXPECT_EQ(m_lines.back(), Prefix(driver) + "GOOD! End of the function");
                ::unlink(Path("doc.txt").c_str());
            }
        }
        for (const std::string& name : containerfiles::Entries(m_dir.Path()))
            ::unlink(Path(name).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, FileRoundTrip, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

// A caller magic is cut or zero-filled to 10 bytes; an empty ARIA document is refused before the disk is touched.
TEST_F(FileDecryption, CallerMagicAndEmptyAria)
{
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);
    Bytes header = readercontainers::Header();
    const Bytes document = reference::Document(100, 8);
    const std::string src = Put(document, "plain");
    for (const auto& [magic, field] : {std::pair{"ABCDEFGHIJKLMN", "ABCDEFGHIJ"}, {"XY", "XY"}}) {
        std::string text = magic;
        ASSERT_EQ(CPVCodec::EncryptFileEx(Wide(src).c_str(), Wide(Path("out")).c_str(), containerfiles::Key(),
                                          header.data(), 10, nullptr, 1, text.data()),
                  1);
        EXPECT_TRUE(FileBytes(Path("out")) ==
                    reference::Concat(reference::DefaultHeader(field, header),
                                      reference::SegmentedBody(readercontainers::kKey, document)));
    }
    Put({}, "empty");
    Bytes prefix = reference::ExtendedPrefix('A');
    TraceCapture trace;
    EXPECT_EQ(CPVCodec::EncryptFileEx(Wide(Path("empty")).c_str(), Wide(Path("out")).c_str(), containerfiles::Key(),
                                      header.data(), 10, nullptr, 2, prefix.data()),
              0);
    EXPECT_EQ(trace.Lines(), (std::vector<std::string>{"[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Algorithm ARIA "
                                                       "needs at least one byte, nDocSize=0"}));
    EXPECT_EQ(containerfiles::Entries(m_dir.Path()), (std::vector<std::string>{"empty", "out", "plain"}));
    EXPECT_EQ(ReadBytes(Path("out")).size(), 14u + 10 + 112);
}

}  // namespace
