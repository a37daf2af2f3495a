// The pvcodec command's encrypt and decrypt, run as a user runs them: round
// trips through every writer and reader it offers, the exit status and the
// one line it prints for each kind of failure, the files it leaves, its
// progress bar on a terminal, and that no output ever holds the key.
#include "support/ContainerFiles.h"
#include "support/FileHelpers.h"
#include "support/ReaderContainers.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#ifdef PVCODEC_TOOL

namespace {

using reference::Bytes;
using readercontainers::Form;

// Printable on purpose: a leak of the raw key into text output would show.
const std::string kKey = "K3y!pvcodec#2024";
const std::string kKeyHex = "4b3379217076636f6465632332303234";
const std::string kOtherKeyHex = "000102030405060708090a0b0c0d0e0f";
const std::string kDefaultHeader = "pvcodec";

std::string AsString(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string Document(size_t size, uint32_t seed = 7)
{
    return AsString(reference::Document(size, seed));
}

// A folder with the key file and whatever a test puts there; `@d`, `@key`
// and `@other` in arguments and expected messages stand for the folder, the
// key file and a file holding another key.
class Scene {
public:
    Scene()
    {
        WriteBytes(Path("key"), kKey);
        WriteBytes(Path("other"), std::string(16, '\x5a'));
    }
    std::string Path(const std::string& name) const { return m_dir / name; }
    std::string Expand(std::string text) const
    {
        for (auto [token, value] : {std::pair<std::string, std::string>{"@key", Path("key")},
                                    {"@other", Path("other")}, {"@d", m_dir.Path()}})
            for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
                text.replace(at, token.size(), value);
        return text;
    }
    ToolResult Run(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& env = {}) const
    {
        std::vector<std::string> expanded;
        for (const std::string& a : arguments)
            expanded.push_back(Expand(a));
        return RunTool(PVCODEC_TOOL, expanded, env);
    }
    // Names in the folder besides the key files, sorted.
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path())) {
            std::string name = entry.path().filename().string();
            if (name != "key" && name != "other")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempDir m_dir;
};

// ---- Round trips ----------------------------------------------------------

struct RoundTrip {
    const char* name;
    std::vector<std::string> encrypt;  // options besides the key and paths
    std::vector<std::string> decrypt;
    bool inPlace = false;   // plain.txt becomes the container
    bool toStdout = false;
    bool extended = false;  // the writer notes the header size to give
    const char* beside = nullptr;  // decrypt without DST: the new file beside the container
};

const RoundTrip kRoundTrips[] = {
    {"FullWriterFullReader", {}, {}},
    {"StreamingWriterStreamingReader", {"--streaming"}, {"--streaming"}},
    {"FullWriterStreamingReader", {}, {"--streaming"}},
    {"ToStdout", {}, {"--stdout"}, false, true},
    {"ToStdoutStreaming", {"--streaming"}, {"--stdout", "--streaming"}, false, true},
    {"InPlace", {}, {"--in-place"}, true},
    {"InPlaceStreaming", {"--streaming"}, {"--streaming", "--in-place"}, true},
    {"BesideTheContainer", {}, {}, false, false, false, "box"},
    {"BesideAnInPlaceContainer", {}, {"--streaming"}, true, false, false, "plain.decrypted.txt"},
    {"HeaderFile", {"--header-file", "@d/header.bin"}, {}},
    {"HeaderText", {"--header-text", "Quarterly figures"}, {}},
    {"CallerMagic", {"--magic", "MYMAGIC"}, {"--magic", "MYMAGIC"}},
    {"CallerMagicVQPVA003", {"--header-mode", "1", "--magic", "VQPVA003"}, {}},
    {"ExplicitOffset", {}, {"--offset", "21"}},
    {"Aria", {"--alg", "aria"}, {"--header-size", "7"}, false, false, true},
    {"AriaInPlaceStreaming", {"--alg", "aria"}, {"--header-size", "7", "--streaming", "--in-place"}, true, false, true},
    {"AriaToStdout", {"--alg", "aria"}, {"--header-size", "7", "--stdout"}, false, true, true},
    {"Ate", {"--alg", "ate"}, {"--header-size", "7"}, false, false, true},
    {"AteInPlace", {"--alg", "ate"}, {"--header-size", "7", "--in-place"}, true, false, true},
    {"AteToStdoutStreaming", {"--alg", "ate"}, {"--header-size", "7", "--stdout", "--streaming"}, false, true, true},
    {"PrefixFile", {"--prefix-file", "@d/prefix.bin"}, {"--header-size", "7"}, false, false, true},
    {"ExtendedRijndael", {"--header-mode", "2"}, {"--header-size", "7", "--stdout"}, false, true, true},
};

// Full segments and a padded tail. The drivers' own tests go through every
// size where the layout changes; here it is the command's options that are
// under test (the trailer's form is in BothWritersWriteTheDefaultForm).
class CommandRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(CommandRoundTrip, BytesComeBack)
{
    const RoundTrip& trip = GetParam();
    Scene scene;
    const std::string document = Document(5000);
    WriteBytes(scene.Path("plain.txt"), document);
    WriteBytes(scene.Path("header.bin"), std::string("\x00\x01opaque\xff", 9));
    Bytes prefix = reference::ExtendedPrefix('T');
    WriteBytes(scene.Path("prefix.bin"), AsString(prefix));

    std::vector<std::string> encrypt = {"encrypt", "--key-file", "@key"};
    encrypt.insert(encrypt.end(), trip.encrypt.begin(), trip.encrypt.end());
    encrypt.push_back("@d/plain.txt");
    if (!trip.inPlace)
        encrypt.push_back("@d/box.pvc");
    ToolResult written = scene.Run(encrypt);
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out, "");
    EXPECT_EQ(written.err, trip.extended ? "pvcodec: note: the extended form does not store its header size: "
                                           "decrypt with --header-size 7\n"
                                         : "");
    const std::string container = trip.inPlace ? "@d/plain.txt" : "@d/box.pvc";
    EXPECT_NE(ReadBytes(scene.Expand(container)), document);

    const bool decryptInPlace =
        std::find(trip.decrypt.begin(), trip.decrypt.end(), "--in-place") != trip.decrypt.end();
    const bool toBackTxt = !decryptInPlace && !trip.toStdout && trip.beside == nullptr;
    std::vector<std::string> decrypt = {"decrypt", "--key-hex", kKeyHex};
    decrypt.insert(decrypt.end(), trip.decrypt.begin(), trip.decrypt.end());
    decrypt.push_back(container);
    if (toBackTxt)
        decrypt.push_back("@d/back.txt");
    const std::string containerBytes = ReadBytes(scene.Expand(container));
    ToolResult read = scene.Run(decrypt);
    ASSERT_EQ(read.status, 0) << read.err;
    if (trip.beside != nullptr) {
        // The container stays; the note says where the document went.
        EXPECT_EQ(read.err, scene.Expand("pvcodec: note: the plain document is @d/" + std::string(trip.beside) +
                                         "; " + container + " is kept (--in-place replaces it)\n"));
        EXPECT_EQ(ReadBytes(scene.Expand(container)), containerBytes);
    } else {
        EXPECT_EQ(read.err, "");
    }
    if (trip.toStdout) {
        EXPECT_EQ(read.out, document);
    } else {
        EXPECT_EQ(read.out, "");
        const std::string result = decryptInPlace ? container
                                   : toBackTxt    ? "@d/back.txt"
                                                  : "@d/" + std::string(trip.beside);
        EXPECT_EQ(ReadBytes(scene.Expand(result)), document);
    }
    // Nothing else: no temporary file is left behind.
    std::vector<std::string> expected = {"header.bin", "plain.txt", "prefix.bin"};
    if (!trip.inPlace)
        expected.push_back("box.pvc");
    if (toBackTxt)
        expected.push_back("back.txt");
    if (trip.beside != nullptr)
        expected.push_back(trip.beside);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(scene.Names(), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryWriterAndReader, CommandRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// The default container is "VQPVA002", N = 7, "pvcodec" and the body as an
// independent AES-128-CBC construction makes it, from either writer.
TEST(CommandContainer, BothWritersWriteTheDefaultForm)
{
    Scene scene;
    const Bytes document = reference::Document(2040, 3);  // a tail of 1016 bytes: zero fill and trailer
    WriteBytes(scene.Path("plain.txt"), AsString(document));
    ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "@d/plain.txt", "@d/full.pvc"}).status, 0);
    ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "--streaming", "@d/plain.txt", "@d/stream.pvc"}).status, 0);
    const Bytes expected = reference::Concat(
        reference::DefaultHeader("VQPVA002", Bytes(kDefaultHeader.begin(), kDefaultHeader.end())),
        reference::SegmentedBody(kKey, document));
    EXPECT_EQ(ReadBytes(scene.Path("full.pvc")), AsString(expected));
    EXPECT_EQ(ReadBytes(scene.Path("stream.pvc")), AsString(expected));
}

TEST(CommandContainer, AlgorithmOptionWritesTheExtendedPrefix)
{
    for (auto [alg, tag] : {std::pair<const char*, char>{"aria", 'A'}, {"ate", 'T'}}) {
        Scene scene;
        WriteBytes(scene.Path("plain.txt"), Document(100));
        ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "--alg", alg, "@d/plain.txt", "@d/box.pvc"}).status, 0);
        std::string prefix(92, '\0');
        prefix.replace(0, 8, "VQPVA004");
        prefix[10] = tag;
        EXPECT_EQ(ReadBytes(scene.Path("box.pvc")).substr(0, 99), prefix + kDefaultHeader) << alg;
    }
}

// A bare body is written only for the sizes the library's size check lets
// through (it subtracts 14 header bytes that a bare body does not have).
TEST(CommandContainer, BareBody)
{
    for (size_t size : {size_t{1}, size_t{1010}}) {
        Scene scene;
        const std::string document = Document(size);
        WriteBytes(scene.Path("plain.txt"), document);
        ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "--bare", "@d/plain.txt", "@d/box.pvc"}).status, 0);
        EXPECT_EQ(ReadBytes(scene.Path("box.pvc")), AsString(reference::SegmentedBody(kKey, Bytes(document.begin(),
                                                                                                   document.end()))));
        ToolResult read = scene.Run({"decrypt", "--key-file", "@key", "--bare", "--stdout", "@d/box.pvc"});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out, document);
    }
}

// ---- Failures: exit status, the one line, the files afterwards -------------

struct FailureCase {
    const char* name;
    std::vector<std::string> arguments;
    int status;
    std::string message;  // all of standard error
};

// Every case starts from: plain.txt (100 bytes), box.pvc (its container), empty.txt,
// long.pvc (a container of 2048 bytes with three bytes appended to the body),
// long (a file of its own), aria.pvc (an extended-form header and a body),
// aria-box.pvc and ate-box.pvc (ARIA and ATE containers of 100 bytes under
// another key, with a 10-byte header).
const std::string kWrongKeyLine = "pvcodec: decrypt: wrong key or damaged container\n";
const std::string kAlreadyLine = "pvcodec: encrypt: @d/box.pvc is already a protected container\n";
const std::string kBeyondLine = "pvcodec: decrypt: @d/box.pvc is shorter than the body offset 100000: not a container "
                                "of this layout, or the offset is beyond its end\n";

const FailureCase kFailures[] = {
    {"WrongKey", {"decrypt", "--key-file", "@other", "@d/box.pvc", "@d/out.txt"}, 1, kWrongKeyLine},
    {"WrongKeyStreaming",
     {"decrypt", "--key-file", "@other", "--streaming", "@d/box.pvc", "@d/out.txt"}, 1, kWrongKeyLine},
    {"WrongKeyInPlace", {"decrypt", "--key-file", "@other", "--in-place", "@d/box.pvc"}, 1, kWrongKeyLine},
    {"WrongKeyBeside", {"decrypt", "--key-file", "@other", "@d/box.pvc"}, 1, kWrongKeyLine},
    {"AriaWrongKeyInPlace",
     {"decrypt", "--key-file", "@key", "--header-size", "10", "--in-place", "@d/aria-box.pvc"}, 1, kWrongKeyLine},
    {"AriaWrongKeyInPlaceStreaming",
     {"decrypt", "--key-file", "@key", "--header-size", "10", "--in-place", "--streaming", "@d/aria-box.pvc"},
     1, kWrongKeyLine},
    {"AriaWrongKeyToStdout",
     {"decrypt", "--key-file", "@key", "--header-size", "10", "--stdout", "@d/aria-box.pvc"}, 1, kWrongKeyLine},
    {"AteWrongKeyInPlace",
     {"decrypt", "--key-file", "@key", "--header-size", "10", "--in-place", "@d/ate-box.pvc"}, 1, kWrongKeyLine},
    {"AteWrongKeyBesideStreaming",
     {"decrypt", "--key-file", "@key", "--header-size", "10", "--streaming", "@d/ate-box.pvc"}, 1, kWrongKeyLine},
    {"BesideNameTaken", {"decrypt", "--key-file", "@key", "@d/long.pvc"},
     1, "pvcodec: decrypt: @d/long exists: give DST to write elsewhere, or --in-place to replace the container\n"},
    {"WrongKeyToStdout", {"decrypt", "--key-file", "@other", "--stdout", "@d/box.pvc"}, 1, kWrongKeyLine},
    {"WrongKeyToStdoutStreaming",
     {"decrypt", "--key-file", "@other", "--stdout", "--streaming", "@d/box.pvc"}, 1, kWrongKeyLine},
    {"MissingSourceEncrypt", {"encrypt", "--key-file", "@key", "@d/missing.txt", "@d/out.pvc"},
     1, "pvcodec: encrypt: cannot open @d/missing.txt: No such file or directory\n"},
    {"MissingSourceDecrypt", {"decrypt", "--key-file", "@key", "@d/missing.pvc", "@d/out.txt"},
     1, "pvcodec: decrypt: cannot open @d/missing.pvc: No such file or directory\n"},
    {"NotAContainer", {"decrypt", "--key-file", "@key", "@d/plain.txt", "@d/out.txt"},
     1, "pvcodec: decrypt: @d/plain.txt is not a protected container (it does not begin with a known magic); for a "
        "bare body give --bare, for a caller's magic --magic or --offset\n"},
    {"AlreadyEncrypted", {"encrypt", "--key-file", "@key", "@d/box.pvc"}, 1, kAlreadyLine},
    // The streaming writer leaves an empty temporary file; the command removes it.
    {"AlreadyEncryptedStreaming",
     {"encrypt", "--key-file", "@key", "--streaming", "@d/box.pvc", "@d/out.pvc"}, 1, kAlreadyLine},
    {"OffsetBeyondTheEnd",
     {"decrypt", "--key-file", "@key", "--offset", "100000", "@d/box.pvc", "@d/out.txt"}, 1, kBeyondLine},
    {"OffsetBeyondTheEndToStdout",
     {"decrypt", "--key-file", "@key", "--offset", "100000", "--stdout", "@d/box.pvc"}, 1, kBeyondLine},
    {"BodyOfNoLayout", {"decrypt", "--key-file", "@key", "@d/long.pvc", "@d/out.txt"},
     1, "pvcodec: decrypt: the body of @d/long.pvc does not end where the container layout says: a damaged "
        "container, or the wrong offset\n"},
    {"ExtendedFormWithoutHeaderSize", {"decrypt", "--key-file", "@key", "@d/aria.pvc", "@d/out.txt"},
     1, "pvcodec: decrypt: @d/aria.pvc is in the extended form, which does not store its header size: give "
        "--header-size N (the body starts at 92 + N) or --offset\n"},
    {"BareBodyOfARefusedSize", {"encrypt", "--key-file", "@key", "--bare", "@d/plain.txt", "@d/out.pvc"},
     1, "pvcodec: encrypt: the library does not write a bare body for a document of this size (its size check "
        "counts the 14 header bytes that a bare body lacks); give a header\n"},
    {"AriaEmptyDocument", {"encrypt", "--key-file", "@key", "--alg", "aria", "@d/empty.txt", "@d/out.pvc"},
     1, "pvcodec: encrypt: ARIA cannot encrypt an empty document\n"},
    {"NoDestinationFolder", {"encrypt", "--key-file", "@key", "@d/plain.txt", "@d/nowhere/out.pvc"},
     1, "pvcodec: encrypt: cannot create a temporary file in the folder of @d/nowhere/out.pvc\n"},
    {"DestinationIsAFolder", {"decrypt", "--key-file", "@key", "@d/box.pvc", "@d"},
     2, "pvcodec: decrypt: @d is a folder: name the file to write\n"},
    {"NoKey", {"encrypt", "@d/plain.txt", "@d/out.pvc"},
     2, "pvcodec: encrypt: no key: give --key-file, --key-hex or set PVCODEC_KEY\n"},
    {"ShortHexKey", {"decrypt", "--key-hex", "0011", "@d/box.pvc", "@d/out.txt"},
     2, "pvcodec: decrypt: --key-hex must be 32 hexadecimal digits\n"},
    {"StreamingExtendedForm",
     {"encrypt", "--key-file", "@key", "--streaming", "--alg", "aria", "@d/plain.txt", "@d/out.pvc"},
     2, "pvcodec: encrypt: --streaming writes only the default form (VQPVA002) with Rijndael\n"},
    {"MagicOutsideModeOne",
     {"encrypt", "--key-file", "@key", "--header-mode", "2", "--magic", "X", "@d/plain.txt", "@d/out.pvc"},
     2, "pvcodec: encrypt: --magic belongs to header mode 1\n"},
    {"StdoutAndDestination", {"decrypt", "--key-file", "@key", "--stdout", "@d/box.pvc", "@d/out.txt"},
     2, "pvcodec: decrypt: give at most one of DST, --stdout and --in-place\n"},
    {"InPlaceAndDestination", {"decrypt", "--key-file", "@key", "--in-place", "@d/box.pvc", "@d/out.txt"},
     2, "pvcodec: decrypt: give at most one of DST, --stdout and --in-place\n"},
};

class CommandFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(CommandFailure, ExitStatusMessageAndFiles)
{
    const FailureCase& c = GetParam();
    Scene scene;
    // The containers as the command writes them (see BothWritersWriteTheDefaultForm).
    const Bytes header(kDefaultHeader.begin(), kDefaultHeader.end());
    const Bytes plain = reference::Document(100, 7);
    WriteBytes(scene.Path("plain.txt"), AsString(plain));
    WriteBytes(scene.Path("empty.txt"), "");
    WriteBytes(scene.Path("box.pvc"), AsString(reference::Concat(reference::DefaultHeader("VQPVA002", header),
                                                                 reference::SegmentedBody(kKey, plain))));
    WriteBytes(scene.Path("long.pvc"),
               AsString(reference::Concat(reference::DefaultHeader("VQPVA002", header),
                                          reference::SegmentedBody(kKey, reference::Document(2048, 7)))) +
                   "xyz");
    WriteBytes(scene.Path("long"), "a file of its own");
    WriteBytes(scene.Path("aria.pvc"), AsString(reference::ExtendedHeader(reference::ExtendedPrefix('A'), header)) +
                                           std::string(112, 'a'));
    WriteBytes(scene.Path("aria-box.pvc"), AsString(readercontainers::Make(Form::ExtendedA, 100).bytes));
    WriteBytes(scene.Path("ate-box.pvc"), AsString(readercontainers::Make(Form::ExtendedT, 100).bytes));
    const std::vector<std::string> before = scene.Names();
    std::vector<std::string> contents;
    for (const std::string& name : before)
        contents.push_back(ReadBytes(scene.Path(name)));

    ToolResult run = scene.Run(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, scene.Expand(c.message));
    EXPECT_EQ(run.out, "");
    // Nothing created, nothing lost: the same files with the same bytes.
    ASSERT_EQ(scene.Names(), before);
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(ReadBytes(scene.Path(before[i])), contents[i]) << before[i];
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// What no check can tell: a wrong key that passes the padding check by
// chance (about one in 255), and any wrong key for a body of whole 1024-byte
// segments, which has no padding. The document comes out wrong with exit
// status 0, but beside the container, which stays as it was.
TEST(CommandWrongKey, UnnoticedOnesNeverReplaceTheContainer)
{
    for (size_t size : {size_t{2048}, size_t{100}}) {
        Scene scene;
        const Bytes document = reference::Document(size, 7);
        const Bytes container = reference::Concat(
            reference::DefaultHeader("VQPVA002", Bytes(kDefaultHeader.begin(), kDefaultHeader.end())),
            reference::SegmentedBody(kKey, document));
        WriteBytes(scene.Path("box.pvc"), AsString(container));
        // Any wrong key for 2048 bytes; for 100 bytes the first of a run of
        // keys whose deciphered last block happens to end in valid padding.
        std::string wrong(16, 'w');
        for (uint32_t i = 0; !containerfiles::Decrypt(container, 21, wrong.data()); ++i)
            std::memcpy(wrong.data(), &i, sizeof i);
        WriteBytes(scene.Path("wrong"), wrong);
        ToolResult run = scene.Run({"decrypt", "--key-file", "@d/wrong", "@d/box.pvc"});
        EXPECT_EQ(run.status, 0) << size;
        EXPECT_EQ(ReadBytes(scene.Path("box.pvc")), AsString(container)) << size;
        EXPECT_NE(ReadBytes(scene.Path("box")), AsString(document)) << size;
    }
}

// A copy of the command with no outside crypto library to be found: ARIA and
// ATE are refused at once, with the reason, and nothing is written.
TEST(CommandCipher, MissingCryptoLibraryIsNamed)
{
    Scene scene;
    std::filesystem::create_directory(scene.Path("bin"));
    std::filesystem::copy_file(PVCODEC_TOOL, scene.Path("bin/pvcodec"));
    WriteBytes(scene.Path("plain.txt"), Document(100));
    WriteBytes(scene.Path("aria.pvc"), AsString(reference::ExtendedHeader(reference::ExtendedPrefix('A'),
                                                                          Bytes(kDefaultHeader.begin(),
                                                                                kDefaultHeader.end()))) +
                                           std::string(112, 'a'));
    const std::map<std::string, std::string> nowhere = {
        {"PVCODEC_KEY", kKeyHex}, {"PVCODEC_REGISTRY_DIR", scene.Path("bin")}, {"PVCODEC_WINDOWS_DIR", scene.Path("bin")}};
    const std::string where =
        " was not found beside the pvcodec program, in the folder the PVVPVPath setting names, or in the Windows folder\n";
    struct Run {
        std::vector<std::string> arguments;
        std::string message;
    };
    for (const Run& run : {
             Run{{"encrypt", "--alg", "aria", "@d/plain.txt", "@d/out.pvc"},
                 "pvcodec: encrypt: the ARIA cipher is not available: XecureCrypto.dll" + where},
             Run{{"encrypt", "--alg", "ate", "@d/plain.txt"},
                 "pvcodec: encrypt: the ATE cipher is not available: XecureCrypto.dll or XecureATE.dll" + where},
             Run{{"decrypt", "--header-size", "7", "--stdout", "@d/aria.pvc"},
                 "pvcodec: decrypt: the ARIA cipher is not available: XecureCrypto.dll" + where},
         }) {
        std::vector<std::string> arguments;
        for (const std::string& a : run.arguments)
            arguments.push_back(scene.Expand(a));
        ToolResult result = RunTool(scene.Path("bin/pvcodec"), arguments, nowhere);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, scene.Expand(run.message));
        EXPECT_EQ(scene.Names(), (std::vector<std::string>{"aria.pvc", "bin", "plain.txt"}));
    }
    EXPECT_EQ(ReadBytes(scene.Path("plain.txt")), Document(100));
}

// ---- The key stays secret --------------------------------------------------

// Every way of giving the key, on success and failure paths, with the trace
// shown: neither the key's bytes nor its hex form appear in any output.
TEST(CommandKey, NeverAppearsInAnyOutput)
{
    Scene scene;
    const std::string document = Document(5000);
    WriteBytes(scene.Path("plain.txt"), document);
    const std::map<std::string, std::string> env = {{"PVCODEC_KEY", kKeyHex}};
    const std::vector<std::vector<std::string>> runs = {
        {"encrypt", "--verbose", "--key-hex", kKeyHex, "@d/plain.txt", "@d/a.pvc"},
        {"encrypt", "--verbose", "--streaming", "@d/plain.txt", "@d/b.pvc"},
        {"encrypt", "--verbose", "--key-file", "@key", "--alg", "ate", "@d/plain.txt", "@d/c.pvc"},
        {"encrypt", "--verbose", "--key-file", "@key", "@d/a.pvc"},
        {"decrypt", "--verbose", "@d/a.pvc", "@d/a.txt"},
        {"decrypt", "--verbose", "--key-hex", kKeyHex, "--streaming", "@d/b.pvc", "@d/b.txt"},
        {"decrypt", "--verbose", "--key-file", "@key", "--header-size", "7", "--stdout", "@d/c.pvc"},
        {"decrypt", "--verbose", "--key-hex", kOtherKeyHex, "@d/a.pvc", "@d/wrong.txt"},
        {"decrypt", "--verbose", "--key-hex", kKeyHex, "@d/plain.txt", "@d/x.txt"},
        {"decrypt", "--verbose", "--key-hex", kKeyHex.substr(2), "@d/a.pvc", "@d/x.txt"},
    };
    std::string upperHex = kKeyHex;
    std::transform(upperHex.begin(), upperHex.end(), upperHex.begin(), ::toupper);
    bool sawTrace = false;
    for (const auto& arguments : runs) {
        ToolResult run = scene.Run(arguments, env);
        std::string everything = run.out + run.err;
        if (run.status == 0) {
            EXPECT_TRUE(run.out.empty() || run.out == document);
        }
        for (const std::string& secret : {kKey, kKeyHex, upperHex, kKeyHex.substr(2)})
            EXPECT_EQ(everything.find(secret), std::string::npos) << arguments[0] << " " << arguments[1];
        sawTrace = sawTrace || run.err.find("trace: [PVCodec.dll]") != std::string::npos;
    }
    // The trace was shown, so the check above looked at it.
    EXPECT_TRUE(sawTrace);
    EXPECT_EQ(ReadBytes(scene.Path("a.txt")), document);
    EXPECT_EQ(ReadBytes(scene.Path("b.txt")), document);
}

// ---- Permissions -------------------------------------------------------------

// A result is never more open than its source: a plain document decrypted
// from a container only its owner may read is not readable by others.
TEST(CommandPermissions, ResultKeepsTheSourcesPermissionBits)
{
    for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0444}}) {
        Scene scene;
        WriteBytes(scene.Path("plain.txt"), Document(3000));
        chmod(scene.Path("plain.txt").c_str(), mode);
        ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "@d/plain.txt", "@d/box.pvc"}).status, 0);
        EXPECT_EQ(ModeOf(scene.Path("box.pvc")), mode);
        ASSERT_EQ(scene.Run({"decrypt", "--key-file", "@key", "@d/box.pvc", "@d/back.txt"}).status, 0);
        EXPECT_EQ(ModeOf(scene.Path("back.txt")), mode);
        ASSERT_EQ(scene.Run({"encrypt", "--key-file", "@key", "--streaming", "@d/plain.txt"}).status, 0);
        EXPECT_EQ(ModeOf(scene.Path("plain.txt")), mode);
        ASSERT_EQ(scene.Run({"decrypt", "--key-file", "@key", "--in-place", "@d/plain.txt"}).status, 0);
        EXPECT_EQ(ModeOf(scene.Path("plain.txt")), mode);
        EXPECT_EQ(ReadBytes(scene.Path("plain.txt")), Document(3000));
    }
}

// ---- Progress ---------------------------------------------------------------

// On a terminal the library's progress messages draw a bar up to 100%.
TEST(CommandProgress, BarOnATerminal)
{
    Scene scene;
    WriteBytes(scene.Path("plain.txt"), Document(10240));
    ToolResult run =
        RunToolOnTerminal(PVCODEC_TOOL, {"encrypt", "--key-file", scene.Path("key"), scene.Path("plain.txt")});
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string label = "encrypt " + scene.Path("plain.txt") + " [";
    EXPECT_NE(run.out.find("\r" + label + "###############...............]  50%"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\r" + label + "##############################] 100%"), std::string::npos) << run.out;

    run = RunToolOnTerminal(PVCODEC_TOOL,
                            {"decrypt", "--key-file", scene.Path("key"), "--in-place", scene.Path("plain.txt")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("] 100%"), std::string::npos) << run.out;
    EXPECT_EQ(ReadBytes(scene.Path("plain.txt")), Document(10240));
}

}  // namespace

#endif  // PVCODEC_TOOL
