// The pvcodec command as a user runs it: writers, readers, failures, key secrecy, progress and inspect.
#include "support/ContainerFiles.h"
#include "support/FileHelpers.h"
#include "support/ReaderContainers.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"
#include "support/ToolRun.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ranges>
#include <set>
#include <sstream>

namespace {

using reference::Bytes;

// Printable, so that a leak of the raw key into text would show.
const std::string kKey = "K3y!pvcodec#2024";
const std::string kKeyHex = "4b3379217076636f6465632332303234";
const Bytes kHeader = {'p', 'v', 'c', 'o', 'd', 'e', 'c'};  // the command's default header

std::string AsString(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
std::string Document(size_t size) { return AsString(reference::Document(size, 7)); }
Bytes Container(const std::string& magic, size_t size)
{
    return reference::Concat(reference::DefaultHeader(magic, kHeader),
                             reference::SegmentedBody(kKey, reference::Document(size, 7)));
}

std::string Substitute(std::string text, const std::vector<std::pair<std::string, std::string>>& tokens)
{
    for (const auto& [token, value] : tokens)
        for (size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + value.size()))
            text.replace(at, token.size(), value);
    return text;
}

#ifdef PVCODEC_TOOL

// A folder with the key file; `@d`, `@key` and `@other` in arguments and
// expected texts stand for the folder, the key file and a file of another key.
class Scene {
public:
    Scene()
    {
        Write("key", kKey);
        Write("other", std::string(16, '\x5a'));
    }
    std::string Path(const std::string& name) const { return m_dir / name; }
    void Write(const std::string& name, const std::string& bytes) const { WriteBytes(Path(name), bytes); }
    std::string Read(const std::string& name) const { return ReadBytes(Expand(name)); }
    std::string Expand(const std::string& text) const
    {
        return Substitute(text, {{"@key", Path("key")}, {"@other", Path("other")}, {"@d", m_dir.Path()}});
    }
    // `line` split at spaces.
    ToolResult Run(const std::string& line, const std::map<std::string, std::string>& env = {},
                   const std::string& tool = PVCODEC_TOOL) const
    {
        std::vector<std::string> arguments;
        std::istringstream words(Expand(line));
        for (std::string word; words >> word;)
            arguments.push_back(word);
        return RunTool(tool, arguments, env);
    }
    // The files besides the key files, with their bytes.
    std::map<std::string, std::string> Files() const
    {
        std::map<std::string, std::string> files;
        for (const std::string& name : containerfiles::Entries(m_dir.Path()))
            if (name != "key" && name != "other")
                files[name] = std::filesystem::is_directory(Path(name)) ? "(folder)" : ReadBytes(Path(name));
        return files;
    }

private:
    TempDir m_dir;
};

// ---- Round trips ----------------------------------------------------------

// What the container is checked against: the independent construction (the
// outside ciphers' prefix only), or nothing beyond the round trip.
enum class Layout { Unchecked, Default, Bare, AriaPrefix, AtePrefix };

struct RoundTrip {
    const char* name;
    std::string encrypt;  // options besides the key and paths
    std::string decrypt;  // with --header-size: the writer notes it is needed
    bool inPlace = false;              // plain.txt becomes the container
    bool toStdout = false;
    const char* beside = nullptr;  // decrypt without DST: the new file beside the container
    Layout layout = Layout::Unchecked;
    size_t size = 5000;  // 2040: a tail of 1016 bytes, zero fill and trailer; a bare body only where the
                         // library's size check (it counts 14 header bytes a bare body lacks) lets it through
};

const RoundTrip kRoundTrips[] = {
    {"FullWriterFullReader", "", "", false, false, nullptr, Layout::Default},
    {"StreamingWriterStreamingReader", "--streaming", "--streaming", false, false, nullptr, Layout::Default},
    {"FullWriterTrailerToStdout", "", "--stdout", false, true, nullptr, Layout::Default, 2040},
    {"BareOneByte", "--bare", "--bare --stdout", false, true, nullptr, Layout::Bare, 1},
    {"InPlace", "", "--in-place", true},
    {"BesideTheContainer", "", "", false, false, "box"},
    {"BesideAnInPlaceContainer", "", "--streaming", true, false, "plain.decrypted.txt"},
    {"HeaderFile", "--header-file @d/header.bin", ""},
    {"CallerMagic", "--magic MYMAGIC", "--magic MYMAGIC"},
    {"ExplicitOffset", "", "--offset 21"},
    {"AriaInPlaceStreaming", "--alg aria", "--header-size 7 --streaming --in-place", true, false, nullptr,
     Layout::AriaPrefix},
    {"AriaToStdout", "--alg aria", "--header-size 7 --stdout", false, true, nullptr, Layout::AriaPrefix, 100},
    {"AteInPlace", "--alg ate", "--header-size 7 --in-place", true, false, nullptr, Layout::AtePrefix},
    {"PrefixFile", "--prefix-file @d/prefix.bin", "--header-size 7"},
    {"ExtendedRijndael", "--header-mode 2", "--header-size 7 --stdout", false, true},
};

Bytes Expected(Layout layout, size_t size)
{
    Bytes prefix(92, 0);  // the command's: the magic and the tag, zeros elsewhere
    std::memcpy(prefix.data(), "VQPVA004", 8);
    prefix[10] = layout == Layout::AriaPrefix ? 'A' : 'T';
    switch (layout) {
    case Layout::Default: return Container("VQPVA002", size);
    case Layout::Bare: return reference::SegmentedBody(kKey, reference::Document(size, 7));
    case Layout::AriaPrefix:
    case Layout::AtePrefix: return reference::ExtendedHeader(prefix, kHeader);
    case Layout::Unchecked: break;
    }
    return {};
}

class CommandRoundTrip : public testing::TestWithParam<RoundTrip> {};

TEST_P(CommandRoundTrip, BytesComeBackAndNothingElseIsLeft)
{
    const RoundTrip& t = GetParam();
    Scene scene;
    const std::string document = Document(t.size);
    scene.Write("plain.txt", document);
    scene.Write("header.bin", std::string("\x00\x01opaque\xff", 9));
    scene.Write("prefix.bin", AsString(reference::ExtendedPrefix('T')));
    const std::string container = t.inPlace ? "@d/plain.txt" : "@d/box.pvc";
    const ToolResult written =
        scene.Run("encrypt --key-file @key " + t.encrypt + " @d/plain.txt " + (t.inPlace ? "" : container));
    ASSERT_EQ(written.status, 0) << written.err;
    EXPECT_EQ(written.out + written.err, t.decrypt.find("--header-size") == std::string::npos ? ""
              : "pvcodec: note: the extended form does not store its header size: decrypt with --header-size 7\n");
    const std::string sealed = scene.Read(container), expected = AsString(Expected(t.layout, t.size));
    EXPECT_NE(sealed, document);
    EXPECT_EQ(sealed.substr(0, expected.size()), expected);

    const bool inPlace = t.decrypt.find("--in-place") != std::string::npos;
    const std::string result = inPlace      ? container
                               : t.toStdout ? ""
                               : t.beside   ? "@d/" + std::string(t.beside)
                                            : "@d/back.txt";
    const ToolResult read = scene.Run("decrypt --key-hex " + kKeyHex + " " + t.decrypt + " " + container + " " +
                                      (result == "@d/back.txt" ? result : ""));
    ASSERT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.err, t.beside == nullptr ? ""
                                            : scene.Expand("pvcodec: note: the plain document is " + result + "; " +
                                                           container + " is kept (--in-place replaces it)\n"));
    EXPECT_EQ(read.out, t.toStdout ? document : "");
    EXPECT_EQ(result.empty() ? document : scene.Read(result), document);
    std::set<std::string> names = {"header.bin", "plain.txt", "prefix.bin", container.substr(3)};  // no temporary left
    if (!result.empty())
        names.insert(result.substr(3));
    EXPECT_TRUE(std::ranges::equal(names, std::views::keys(scene.Files()))) << testing::PrintToString(scene.Files());
    if (!inPlace) {
        EXPECT_EQ(scene.Read(container), sealed);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWriterAndReader, CommandRoundTrip, testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Failures: exit status, the one line, the files afterwards -------------

struct FailureCase {
    const char* name;
    std::string arguments;  // split at spaces
    int status;
    std::string message;     // all of standard error
    bool noLibrary = false;  // a copy of the command with no outside crypto library to be found
};

const std::string kWrongKey = "pvcodec: decrypt: wrong key or damaged container\n";
const std::string kAlready = "pvcodec: encrypt: @d/box.pvc is already a protected container\n";
const std::string kBeyond = "pvcodec: decrypt: @d/box.pvc is shorter than the body offset 100000: not a container "
                            "of this layout, or the offset is beyond its end\n";
const std::string kNowhere = " was not found beside the pvcodec program, in the folder the PVVPVPath setting names, or "
                             "in the Windows folder\n";

// The files of every case are those the test below writes.
const FailureCase kFailures[] = {
    {"WrongKey", "decrypt --key-file @other @d/box.pvc @d/out.txt", 1, kWrongKey},
    {"WrongKeyInPlace", "decrypt --key-file @other --in-place @d/box.pvc", 1, kWrongKey},
    {"WrongKeyToStdoutStreaming", "decrypt --key-file @other --stdout --streaming @d/box.pvc", 1, kWrongKey},
    {"AriaWrongKeyInPlaceStreaming", "decrypt --key-file @key --header-size 10 --in-place --streaming @d/aria-box.pvc",
     1, kWrongKey},
    {"AteWrongKeyBesideStreaming", "decrypt --key-file @key --header-size 10 --streaming @d/ate-box.pvc", 1, kWrongKey},
    {"BesideNameTaken", "decrypt --key-file @key @d/long.pvc", 1,
     "pvcodec: decrypt: @d/long exists: give DST to write elsewhere, or --in-place to replace the container\n"},
    {"MissingSourceEncrypt", "encrypt --key-file @key @d/missing.txt @d/out.pvc", 1,
     "pvcodec: encrypt: cannot open @d/missing.txt: No such file or directory\n"},
    {"NotAContainer", "decrypt --key-file @key @d/plain.txt @d/out.txt", 1,
     "pvcodec: decrypt: @d/plain.txt is not a protected container (it does not begin with a known magic); for a "
     "bare body give --bare, for a caller's magic --magic or --offset\n"},
    {"AlreadyEncrypted", "encrypt --key-file @key @d/box.pvc", 1, kAlready},
    // The streaming writer leaves an empty temporary file; the command removes it.
    {"AlreadyEncryptedStreaming", "encrypt --key-file @key --streaming @d/box.pvc @d/out.pvc", 1, kAlready},
    {"OffsetBeyondTheEnd", "decrypt --key-file @key --offset 100000 @d/box.pvc @d/out.txt", 1, kBeyond},
    {"BodyOfNoLayout", "decrypt --key-file @key @d/long.pvc @d/out.txt", 1,
     "pvcodec: decrypt: the body of @d/long.pvc does not end where the container layout says: a damaged "
     "container, or the wrong offset\n"},
    {"DamagedHeaderSize", "decrypt --key-file @key @d/damaged.pvc @d/out.txt", 1,
     "pvcodec: decrypt: @d/damaged.pvc has a damaged header: its header size field holds -1\n"},
    {"ExtendedFormWithoutHeaderSize", "decrypt --key-file @key @d/aria.pvc @d/out.txt", 1,
     "pvcodec: decrypt: @d/aria.pvc is in the extended form, which does not store its header size: give "
     "--header-size N (the body starts at 92 + N) or --offset\n"},
    {"BareBodyOfARefusedSize", "encrypt --key-file @key --bare @d/plain.txt @d/out.pvc", 1,
     "pvcodec: encrypt: the library does not write a bare body for a document of this size (its size check counts "
     "the 14 header bytes that a bare body lacks); give a header\n"},
    {"AriaEmptyDocument", "encrypt --key-file @key --alg aria @d/empty.txt @d/out.pvc", 1,
     "pvcodec: encrypt: ARIA cannot encrypt an empty document\n"},
    {"NoDestinationFolder", "encrypt --key-file @key @d/plain.txt @d/nowhere/out.pvc", 1,
     "pvcodec: encrypt: cannot create a temporary file in the folder of @d/nowhere/out.pvc\n"},
    {"DestinationIsAFolder", "decrypt --key-file @key @d/box.pvc @d", 2,
     "pvcodec: decrypt: @d is a folder: name the file to write\n"},
    {"NoKey", "encrypt @d/plain.txt @d/out.pvc", 2,
     "pvcodec: encrypt: no key: give --key-file, --key-hex or set PVCODEC_KEY\n"},
    {"StreamingExtendedForm", "encrypt --key-file @key --streaming --alg aria @d/plain.txt @d/out.pvc", 2,
     "pvcodec: encrypt: --streaming writes only the default form (VQPVA002) with Rijndael\n"},
    {"AriaWithoutLibrary", "encrypt --key-file @key --alg aria @d/plain.txt @d/out.pvc", 1,
     "pvcodec: encrypt: the ARIA cipher is not available: XecureCrypto.dll" + kNowhere, true},
    {"AteWithoutLibrary", "encrypt --key-file @key --alg ate @d/plain.txt", 1,
     "pvcodec: encrypt: the ATE cipher is not available: XecureCrypto.dll or XecureATE.dll" + kNowhere, true},
};

class CommandFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(CommandFailure, ExitStatusMessageAndNothingCreatedOrLost)
{
    const FailureCase& c = GetParam();
    Scene scene;
    scene.Write("plain.txt", Document(100));
    scene.Write("empty.txt", "");
    scene.Write("box.pvc", AsString(Container("VQPVA002", 100)));
    scene.Write("long.pvc", AsString(Container("VQPVA002", 2048)) + "xyz");  // three bytes past the layout
    scene.Write("long", "a file of its own");
    scene.Write("damaged.pvc",
                AsString(reference::DefaultHeader("VQPVA002", Bytes(3, 'h'))).replace(10, 4, 4, '\xff') + "bb");
    scene.Write("aria.pvc", AsString(reference::ExtendedHeader(reference::ExtendedPrefix('A'), kHeader)) +
                                std::string(112, 'a'));
    // Under another key, with a 10-byte header.
    scene.Write("aria-box.pvc", AsString(readercontainers::Make(readercontainers::Form::ExtendedA, 100).bytes));
    scene.Write("ate-box.pvc", AsString(readercontainers::Make(readercontainers::Form::ExtendedT, 100).bytes));
    const std::string bin = scene.Path("bin");
    if (c.noLibrary) {
        std::filesystem::create_directory(bin);
        std::filesystem::copy_file(PVCODEC_TOOL, bin + "/pvcodec");
    }
    const auto before = scene.Files();
    const ToolResult run =
        c.noLibrary
            ? scene.Run(c.arguments, {{"PVCODEC_REGISTRY_DIR", bin}, {"PVCODEC_WINDOWS_DIR", bin}}, bin + "/pvcodec")
            : scene.Run(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.err, scene.Expand(c.message));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(scene.Files(), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandFailure, testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Many documents at once -----------------------------------------------

// The tree of every case: plain documents, a container, one under another key, one with a damaged header, and
// links to a file outside the tree and to a folder inside it (neither followed by -r).
struct BulkCase {
    const char* name;
    std::string commands;                // split at " ; ": the checks are of the last one
    int status;
    std::set<std::string> failureLines;  // all of standard error but the summary
    std::string summary = "";            // the last line up to its time; empty: no summary
    std::set<std::string> changed = {};  // the files whose bytes change; the others keep theirs
};

const std::string kUnder = "pvcodec: decrypt: @d/tree/";
const std::set<std::string> kTreeFailures = {
    kUnder + "other.pvc: wrong key or damaged container",
    kUnder + "damaged.pvc: @d/tree/damaged.pvc has a damaged header: its header size field holds -1"};
const std::string kTreeEncrypted = "pvcodec: encrypt: 5 documents: 2 done (2.9 KiB), 3 skipped (already protected), "
                                   "0 failed";

const BulkCase kBulkCases[] = {
    {"EncryptTree", "encrypt -r @d/tree", 0, {}, kTreeEncrypted, {"tree/a.txt", "tree/sub/deep/c.txt"}},
    {"EncryptTreeOneJob", "encrypt -r --jobs 1 @d/tree", 0, {}, kTreeEncrypted, {"tree/a.txt", "tree/sub/deep/c.txt"}},
    {"DecryptTree", "decrypt -r --jobs 3 @d/tree", 1, kTreeFailures,
     "pvcodec: decrypt: 5 documents: 1 done (133 bytes), 2 skipped (not protected), 2 failed", {"tree/sub/b.pvc"}},
    {"EncryptThenDecryptTree", "encrypt -r --jobs 2 @d/tree ; decrypt -r @d/tree", 1, kTreeFailures,
     "pvcodec: decrypt: 5 documents: 3 done (3.1 KiB), 0 skipped (not protected), 2 failed", {"tree/sub/b.pvc"}},
    {"NamedFilesAndALinkNamedIsFollowed", "encrypt --in-place @d/tree/a.txt @d/tree/outside-link", 0, {},
     "pvcodec: encrypt: 2 documents: 2 done (3.0 KiB), 0 skipped (already protected), 0 failed",
     {"tree/a.txt", "outside.txt"}},
    {"OneDocumentInPlaceThroughALink", "encrypt @d/tree/outside-link ; decrypt --in-place @d/tree/outside-link ; "
     "encrypt @d/tree/outside-link", 0, {}, "", {"outside.txt"}},
    {"FolderWithoutRecursive", "encrypt --jobs 4 @d/tree @d/outside.txt", 1,
     {"pvcodec: encrypt: @d/tree: is a folder: give -r to change the files in it"},
     "pvcodec: encrypt: 1 document: 1 done (50 bytes), 0 skipped (already protected), 1 failed", {"outside.txt"}},
    {"MissingPathChangesNothing", "encrypt --in-place @d/tree/a.txt @d/new.pvc", 2,
     {"pvcodec: encrypt: @d/new.pvc does not exist (nothing was changed; with --in-place or -r every path is a "
      "document or folder to change in place, there is no DST)"}},
    {"ManyPathsWithoutInPlace", "encrypt @d/tree/a.txt @d/outside.txt @d/tree/sub/b.pvc", 2,
     {"pvcodec: encrypt: give --in-place or -r to encrypt many documents in place (without them the paths are SRC "
      "[DST])"}},
    {"StdoutTakesOneContainer", "decrypt -r --stdout @d/tree", 2, {"pvcodec: decrypt: --stdout takes one container"}},
};

// Every file and link under the scene's folder but the keys: bytes, or where a link points.
std::map<std::string, std::string> Tree(const Scene& scene)
{
    std::map<std::string, std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scene.Path(""))) {
        const std::string name = entry.path().lexically_relative(scene.Path("")).string();
        if (entry.is_symlink())
            found[name] = "-> " + std::filesystem::read_symlink(entry.path()).string();
        else if (entry.is_regular_file() && name != "key" && name != "other")
            found[name] = ReadBytes(entry.path());
    }
    return found;
}

class BulkCommand : public testing::TestWithParam<BulkCase> {};

TEST_P(BulkCommand, FailuresSummaryAndEveryFileOnDisk)
{
    const BulkCase& c = GetParam();
    Scene scene;
    std::filesystem::create_directories(scene.Path("tree/sub/deep"));
    const std::map<std::string, std::string> plain = {
        {"tree/a.txt", Document(3000)}, {"tree/sub/deep/c.txt", ""}, {"outside.txt", Document(50)},
        {"tree/sub/b.pvc", Document(100)}};
    for (const auto& [name, bytes] : plain)
        scene.Write(name, name == "tree/sub/b.pvc" ? AsString(Container("VQPVA002", 100)) : bytes);
    const Bytes otherBody = reference::SegmentedBody("another key 1234", Bytes(80));
    scene.Write("tree/other.pvc", AsString(reference::Concat(reference::DefaultHeader("VQPVA002", kHeader), otherBody)));
    scene.Write("tree/damaged.pvc",
                AsString(reference::DefaultHeader("VQPVA002", Bytes(3, 'h'))).replace(10, 4, 4, '\xff') + "bb");
    std::filesystem::create_symlink("../outside.txt", scene.Path("tree/outside-link"));
    std::filesystem::create_symlink("sub", scene.Path("tree/sub-link"));
    const auto before = Tree(scene);

    ToolResult run;
    for (size_t from = 0, end = 0; end != std::string::npos; from = end + 3) {
        end = c.commands.find(" ; ", from);
        run = scene.Run(c.commands.substr(from, end - from), {{"PVCODEC_KEY", kKeyHex}});
    }
    EXPECT_EQ(run.status, c.status);
    std::vector<std::string> lines;
    for (std::istringstream err(run.err); std::getline(err, lines.emplace_back());) {
    }
    lines.pop_back();
    std::string summary;
    if (!c.summary.empty() && !lines.empty()) {
        summary = lines.back();
        lines.pop_back();
    }
    EXPECT_EQ(summary.substr(0, summary.rfind(" in ")), scene.Expand(c.summary)) << run.err;
    EXPECT_TRUE(summary.empty() || summary.ends_with(" s"));
    std::set<std::string> expected;
    for (const std::string& line : c.failureLines)
        expected.insert(scene.Expand(line));
    EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected) << run.err;

    const auto after = Tree(scene);
    ASSERT_EQ(std::views::keys(after).size(), std::views::keys(before).size());  // nothing made, nothing lost
    for (const auto& [name, bytes] : before) {
        if (!c.changed.contains(name)) {
            EXPECT_EQ(after.at(name), bytes) << name;
        } else if (bytes == plain.at(name)) {  // encrypted: it decrypts back
            EXPECT_EQ(after.at(name).substr(0, 8), "VQPVA002") << name;
            const ToolResult back = scene.Run("decrypt --stdout @d/" + name, {{"PVCODEC_KEY", kKeyHex}});
            EXPECT_EQ(back.out, bytes) << name;
        } else {
            EXPECT_EQ(after.at(name), plain.at(name)) << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BulkCommand, testing::ValuesIn(kBulkCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Interrupted at some point of a run: the documents in hand finish, no other is begun, and every document is
// either a whole container or untouched, as decrypting them all back shows.
TEST(BulkCommand, InterruptLeavesEachDocumentWholeOrUntouched)
{
    constexpr int kDocuments = 400;  // 4 jobs take 2 s and more for all: the interrupt comes well before
    Scene scene;
    std::filesystem::create_directory(scene.Path("docs"));
    for (int i = 0; i < kDocuments; ++i)
        scene.Write("docs/" + std::to_string(i), Document(10000 + i));
    const ToolResult run = RunTool(PVCODEC_TOOL, {"encrypt", "-r", "--jobs", "4", scene.Path("docs")},
                                   {{"PVCODEC_KEY", kKeyHex}}, "", 500);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_EQ(run.err.rfind("pvcodec: encrypt: interrupted: 400 documents: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(" not started in "), std::string::npos) << run.err;
    EXPECT_EQ(scene.Run("decrypt -r @d/docs", {{"PVCODEC_KEY", kKeyHex}}).status, 0);
    EXPECT_EQ(containerfiles::Entries(scene.Path("docs")).size(), size_t{kDocuments});  // no temporary left
    for (int i = 0; i < kDocuments; ++i)
        EXPECT_EQ(scene.Read("@d/docs/" + std::to_string(i)), Document(10000 + i)) << i;
}

// Every way of giving the key, on success and failure paths, with the trace
// shown: neither the key's bytes nor its hex form appear in any output.
TEST(CommandKey, NeverAppearsInAnyOutput)
{
    Scene scene;
    scene.Write("plain.txt", Document(5000));
    std::string upperHex = kKeyHex;
    std::ranges::transform(upperHex, upperHex.begin(), ::toupper);
    bool sawTrace = false;
    for (const std::string& run :
         {"encrypt --verbose --key-hex " + kKeyHex + " @d/plain.txt @d/a.pvc",
          std::string("encrypt --verbose --streaming @d/plain.txt @d/b.pvc"),
          std::string("encrypt --verbose --key-file @key --alg ate @d/plain.txt @d/c.pvc"),
          std::string("decrypt --verbose @d/a.pvc @d/a.txt"),
          "decrypt --verbose --key-hex " + kKeyHex + " --streaming @d/b.pvc @d/b.txt",
          std::string("decrypt --verbose --key-file @key --header-size 7 --stdout @d/c.pvc"),
          std::string("decrypt --verbose --key-hex 000102030405060708090a0b0c0d0e0f @d/a.pvc @d/x.txt"),
          "decrypt --verbose --key-hex " + kKeyHex.substr(2) + " @d/a.pvc @d/x.txt"}) {
        const ToolResult result = scene.Run(run, {{"PVCODEC_KEY", kKeyHex}});
        if (result.status == 0) {
            EXPECT_TRUE(result.out.empty() || result.out == Document(5000));
        }
        for (const std::string& secret : {kKey, kKeyHex, upperHex, kKeyHex.substr(2)})
            EXPECT_EQ((result.out + result.err).find(secret), std::string::npos) << run;
        sawTrace = sawTrace || result.err.find("trace: [PVCodec.dll]") != std::string::npos;
    }
    EXPECT_TRUE(sawTrace);  // so the check above looked at the trace
    EXPECT_EQ(scene.Read("@d/a.txt"), Document(5000));
    EXPECT_EQ(scene.Read("@d/b.txt"), Document(5000));
}

// A result is never more open than its source; on a terminal the library's
// progress messages draw a bar up to 100%.
TEST(CommandFiles, PermissionBitsFollowTheSourceAndProgressShowsOnATerminal)
{
    for (mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0444}}) {
        Scene scene;
        scene.Write("plain.txt", Document(3000));
        chmod(scene.Path("plain.txt").c_str(), mode);
        for (const auto& [run, result] : {std::pair{"encrypt @d/plain.txt @d/box.pvc", "@d/box.pvc"},
                                          {"decrypt @d/box.pvc @d/back.txt", "@d/back.txt"},
                                          {"encrypt --streaming @d/plain.txt", "@d/plain.txt"},
                                          {"decrypt --in-place @d/plain.txt", "@d/plain.txt"}}) {
            ASSERT_EQ(scene.Run(run, {{"PVCODEC_KEY", kKeyHex}}).status, 0);
            EXPECT_EQ(ModeOf(scene.Expand(result)), mode) << run;
        }
        EXPECT_EQ(scene.Read("@d/plain.txt"), Document(3000));
    }
    Scene scene;
    scene.Write("plain.txt", Document(10240));
    ToolResult run =
        RunToolOnTerminal(PVCODEC_TOOL, {"encrypt", "--key-file", scene.Path("key"), scene.Path("plain.txt")});
    EXPECT_EQ(run.status, 0) << run.out;
    const std::string label = "\rencrypt " + scene.Path("plain.txt") + " [";
    EXPECT_NE(run.out.find(label + "###############...............]  50%"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(label + "##############################] 100%"), std::string::npos) << run.out;
    run = RunToolOnTerminal(PVCODEC_TOOL,
                            {"decrypt", "--key-file", scene.Path("key"), "--in-place", scene.Path("plain.txt")});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find("] 100%"), std::string::npos) << run.out;
    EXPECT_EQ(scene.Read("@d/plain.txt"), Document(10240));
    std::filesystem::create_directory(scene.Path("many"));  // the bulk form's one bar: files and bytes
    for (const char* name : {"many/1", "many/2"})
        scene.Write(name, Document(1024));
    run = RunToolOnTerminal(PVCODEC_TOOL, {"encrypt", "-r", "--key-file", scene.Path("key"), scene.Path("many")});
    EXPECT_NE(run.out.find("\rencrypt [##############################] 2/2 files, 2.0 KiB of 2.0 KiB\r\n"),
              std::string::npos) << run.out;
}

// One report of each kind: lines, JSON from standard input, the extended form, a damaged header size.
TEST(InspectCommand, ReportsAsLinesAndJson)
{
    Scene scene;
    Bytes header(25, 'h');
    const std::optional<Bytes> written =
        containerfiles::MemoryContainer(reference::Document(2040, 1), header.data(), 25, 0, nullptr);
    ASSERT_TRUE(written.has_value());
    scene.Write("written.pvc", AsString(*written));
    ToolResult run = scene.Run("inspect @d/written.pvc");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "form: default\nmagic: VQPVA002\nalgorithm: Rijndael\nheader size N: 25\n"
                       "body offset: 39 (14 + N)\ncontainer length: 2103\nbody length: 2064\n"
                       "body: 2 full segments and a 16-byte final piece: the padding trailer (document of "
                       "2032..2047 bytes) or a padded tail (document of 2049..2063 bytes)\n");
    run = RunTool(PVCODEC_TOOL, {"inspect", "--json"}, {}, scene.Path("written.pvc"));
    EXPECT_EQ(run.out,
              "{\"form\":\"default\",\"magic\":\"VQPVA002\",\"headerSize\":25,\"bodyOffset\":39,"
              "\"bodyOffsetRule\":\"14 + N\",\"tag\":null,\"algorithm\":\"Rijndael\",\"algorithmId\":0,"
              "\"containerLength\":2103,\"bodyLength\":2064,\"fit\":\"trailer-or-padded-tail\",\"fullSegments\":2,"
              "\"finalPiece\":16,\"documentSize\":{\"min\":2049,\"max\":2063},"
              "\"documentSizeWithTrailer\":{\"min\":2032,\"max\":2047},\"notes\":[]}\n");
    scene.Write("extended.pvc", AsString(reference::ExtendedHeader(reference::ExtendedPrefix('A'), Bytes(7, 'x'))) +
                                    std::string(3008, 'b'));
    EXPECT_EQ(scene.Run("inspect @d/extended.pvc").out,
              "form: extended\nmagic: VQPVA004\ntag: A\nalgorithm: ARIA\nheader size N: unknown\n"
              "body offset: 92 + N, N unknown\ncontainer length: 3107\nbody length: unknown\n"
              "note: the extended form does not store N: give --header-size N for the body\n");
    for (int64_t n : {int64_t{-1}, int64_t{INT32_MIN}, int64_t{INT32_MAX} - 13, int64_t{INT32_MAX}}) {  // unreadable
        Bytes damaged = reference::Concat(reference::DefaultHeader("VQPVA002", Bytes(3, 'h')), Bytes(2, 'b'));
        for (int i = 0; i < 4; ++i)
            damaged[10 + i] = static_cast<char>(static_cast<uint32_t>(n) >> (8 * i));
        scene.Write("damaged.pvc", AsString(damaged));
        const std::string line = "header size N: damaged (" + std::to_string(n) + ")\nbody offset: 14 + N, N damaged\n";
        EXPECT_NE(scene.Run("inspect @d/damaged.pvc").out.find(line), std::string::npos);
    }
    EXPECT_EQ(scene.Run("inspect --header-size 2147483555 @d/extended.pvc").status, 0);
    EXPECT_EQ(scene.Run("inspect --header-size 2147483556 @d/extended.pvc").err,
              "pvcodec: --header-size must be 0 to 2147483555\n");
    EXPECT_EQ(scene.Run("inspect @d/missing.pvc").status, 1);
}

#endif  // PVCODEC_TOOL

}  // namespace
