// File decryption round trips: containers from the memory writer, in every
// header form and cipher, written to files, decrypt through DecryptFileW and
// DecryptFile2 (and once through RDDecryptFile) to byte-identical documents
// at the sizes where the layout changes and for a few MiB - to a new file,
// over an older file, and in place - leaving no temporary file and the source
// unchanged.
#include "support/DecryptionFixture.h"

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace decryption;
using readercontainers::Form;

namespace {

enum class Target { NewFile, OverOlderFile, InPlace };

struct RoundTripCase {
    Driver driver;
    Form form;
    size_t size;
    Target target;
};

std::string CaseName(const ::testing::TestParamInfo<RoundTripCase>& info)
{
    const RoundTripCase& c = info.param;
    const char* target = c.target == Target::NewFile ? "new" : c.target == Target::InPlace ? "in_place" : "over";
    return std::string(c.driver.name) + "_" + readercontainers::FormName(c.form) + "_" + std::to_string(c.size) +
           "_" + target;
}

class FileDecryptionRoundTrip : public FileDecryption, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(FileDecryptionRoundTrip, GivesBackTheDocument)
{
    const RoundTripCase& c = GetParam();
    if (!readercontainers::Available(c.form))
        GTEST_SKIP() << "the outside crypto library is not at hand";
    const auto& container = readercontainers::Make(c.form, c.size);
    const std::string source = Put(container.bytes);
    std::string destination = Path("doc.txt");
    if (c.target == Target::InPlace)
        destination = source;
    if (c.target == Target::OverOlderFile)
        WriteBytes(destination, "an older file in the way");

    ASSERT_EQ(Run(c.driver, source, destination, container.offset), 1);
    EXPECT_TRUE(Contents(destination) == readercontainers::DocumentOf(c.size));
    if (c.target != Target::InPlace) {
        EXPECT_TRUE(Contents(source) == container.bytes);
    }
    EXPECT_TRUE(Temporaries().empty());
    EXPECT_EQ(m_lines.back(), Prefix(c.driver) + "GOOD! End of the function");
}

std::vector<RoundTripCase> Cases()
{
    const size_t sizes[] = {0, 1, 1007, 1008, 1023, 1024, 1025, 2040, 2048, 10256};
    const Form forms[] = {Form::Bare,      Form::Default,   Form::CallerMagic,
                          Form::ExtendedR, Form::ExtendedT, Form::ExtendedA};
    std::vector<RoundTripCase> cases;
    for (const Driver& driver : {kFull, kStreaming}) {
        for (Form form : forms) {
            for (size_t size : sizes) {
                // The writers cannot make an empty ARIA document.
                if (form == Form::ExtendedA && size == 0)
                    continue;
                cases.push_back({driver, form, size, Target::NewFile});
            }
            // A few MiB once per cipher and reader.
            if (form == Form::Default || form == Form::ExtendedT || form == Form::ExtendedA)
                cases.push_back({driver, form, (2u << 20) + 7, Target::NewFile});
            for (size_t size : {size_t{1}, size_t{2040}})
                cases.push_back({driver, form, size, Target::InPlace});
            cases.push_back({driver, form, 1025, Target::OverOlderFile});
        }
    }
    // RDDecryptFile only forwards to DecryptFileW.
    cases.push_back({kForwarding, Form::Default, 2040, Target::NewFile});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FormsSizesAndTargets, FileDecryptionRoundTrip, ::testing::ValuesIn(Cases()), CaseName);

}  // namespace
