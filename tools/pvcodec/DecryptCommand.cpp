// pvcodec decrypt: turns a protected container back into the plain document,
// under a new name or in place (DecryptFileW, or DecryptFile2 when
// streaming), or onto standard output through the readers into memory; or
// many containers in place (Bulk.h).
//
// A wrong key is not always noticed: the padding check passes about one wrong
// key in 255, and a body of whole 1024-byte segments has no padding to check.
// So without DST the plain document goes to a new file beside the container,
// which stays; only --in-place replaces the container.
//
// The readers need the offset of the body. The default form stores its header
// size N, so the offset is 14 + N; the extended form does not store N
// (--header-size N gives 92 + N); a bare body starts at 0 and carries no mark
// at all, so it is read only when asked for with --bare.
#include "Bulk.h"
#include "Commands.h"
#include "KeySource.h"
#include "LibraryCall.h"
#include "System.h"

#include "container/ContainerFormat.h"

#include <PVCodec.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace cli {
namespace {

using namespace container;

struct DecryptOptions {
    BulkOptions bulk;  // the paths: SRC [DST], or the containers of the bulk form; --in-place
    std::string source;
    std::string destination;
    KeyOptions key;
    std::optional<long long> offset;
    std::optional<long long> headerSize;
    std::optional<std::string> magic;
    bool bare = false;
    bool streaming = false;
    bool toStdout = false;
    bool inPlace = false;
    bool verbose = false;
};

// The first bytes of the container and its length.
struct Probe {
    unsigned char head[kFixedHeaderSize] = {};
    size_t got = 0;
    long long length = 0;
};

std::optional<Probe> ProbeSource(const std::string& path, std::string& error)
{
    std::ifstream in(sys::FsPath(path), std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Probe probe;
    in.read(reinterpret_cast<char*>(probe.head), sizeof probe.head);
    probe.got = static_cast<size_t>(in.gcount());
    in.clear();
    in.seekg(0, std::ios::end);
    probe.length = static_cast<long long>(in.tellg());
    if (probe.length < 0) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return probe;
}

// Where the body starts, or nullopt with `error` and `usage` (a problem with
// the options rather than with the file) set.
std::optional<long long> BodyOffset(const DecryptOptions& o, const Probe& probe, std::string& error, bool& usage)
{
    usage = true;
    if (o.offset.has_value() + o.headerSize.has_value() + o.magic.has_value() + o.bare > 1) {
        error = "give at most one of --offset, --header-size, --magic and --bare";
        return std::nullopt;
    }
    if (o.offset) {
        if (*o.offset < 0 || *o.offset > INT_MAX) {
            error = "--offset must be 0 to 2147483647";
            return std::nullopt;
        }
        return *o.offset;
    }
    if (o.bare)
        return 0;
    if (o.headerSize && !IsExtendedHeaderSize(*o.headerSize)) {
        error = "--header-size must be 0 to " + std::to_string(kLargestExtendedHeaderSize);
        return std::nullopt;
    }
    if (o.magic && (o.magic->empty() || o.magic->size() > static_cast<size_t>(kMagicFieldSize))) {
        error = "--magic takes 1 to 10 characters";
        return std::nullopt;
    }

    usage = false;
    const auto got = static_cast<int64_t>(probe.got);
    const MagicForm form = ReadMagicForm(probe.head, got);
    const HeaderSizeField field = ReadHeaderSizeField(probe.head, got);
    bool defaultForm = form == MagicForm::Default;
    if (o.magic) {
        unsigned char magic[kMagicFieldSize] = {};
        std::copy(o.magic->begin(), o.magic->end(), magic);
        if (field.state == HeaderSizeField::State::Missing || !std::equal(magic, magic + kMagicFieldSize, probe.head)) {
            error = o.source + " does not begin with the magic " + *o.magic;
            return std::nullopt;
        }
        defaultForm = true;
    }
    if (o.headerSize) {
        if (defaultForm) {
            usage = true;
            error = o.source + " stores its header size; --header-size is for the extended form";
            return std::nullopt;
        }
        return kHeaderPrefixSize + *o.headerSize;
    }
    if (form == MagicForm::Extended) {
        error = o.source + " is in the extended form, which does not store its header size: give --header-size N "
                           "(the body starts at 92 + N) or --offset";
        return std::nullopt;
    }
    if (!defaultForm) {
        error = o.source + " is not a protected container (it does not begin with a known magic); for a bare body "
                           "give --bare, for a caller's magic --magic or --offset";
        return std::nullopt;
    }
    switch (field.state) {
    case HeaderSizeField::State::Missing:
        error = o.source + " ends inside its 14-byte header: a damaged container";
        return std::nullopt;
    case HeaderSizeField::State::OutOfRange:
        error = o.source + " has a damaged header: its header size field holds " + std::to_string(field.stored);
        return std::nullopt;
    case HeaderSizeField::State::Valid:
        break;
    }
    return field.bodyOffset;
}

// Where the plain document goes without DST: beside SRC. "x.pvc" gives "x";
// any other name gets ".decrypted" before its extension ("letter.txt" gives
// "letter.decrypted.txt").
std::string BesideName(const std::string& source)
{
    const std::filesystem::path path = sys::FsPath(source);
    std::string extension = sys::Utf8(path.extension());
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower == ".pvc")
        return sys::Utf8(path.parent_path() / path.stem());
    return sys::Utf8(path.parent_path() / sys::FsPath(sys::Utf8(path.stem()) + ".decrypted" + extension));
}

// A file made for the result beside SRC, exclusively, so that no file the
// user did not name is ever replaced. The library replaces it on success; on
// failure it is removed again while it is still the empty file made here.
class ClaimedFile {
public:
    static std::optional<ClaimedFile> Make(const std::string& path, std::string& error)
    {
        const int fd = sys::OpenFile(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            error = errno == EEXIST ? path + " exists: give DST to write elsewhere, or --in-place to replace the "
                                             "container"
                                    : "cannot create " + path + ": " + std::strerror(errno);
            return std::nullopt;
        }
        const std::optional<sys::FileFacts> made = sys::FactsOf(fd);
        sys::CloseFile(fd);
        return ClaimedFile(path, made.value_or(sys::FileFacts{}));
    }
    void Release() const
    {
        const std::optional<sys::FileFacts> now = sys::FactsOfName(m_path);
        if (now && now->device == m_made.device && now->inode == m_made.inode && now->size == 0)
            sys::RemoveFile(m_path);
    }

private:
    ClaimedFile(std::string path, sys::FileFacts made) : m_path(std::move(path)), m_made(made) {}
    std::string m_path;
    sys::FileFacts m_made;
};

std::optional<std::vector<char>> ReadWholeFile(const std::string& path)
{
    std::ifstream in(sys::FsPath(path), std::ios::binary);
    if (!in)
        return std::nullopt;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return bytes;
}

int ToStandardOutput(const DecryptOptions& options, const CallContext& context, const Probe& probe, long long offset,
                     int algorithm, char* key)
{
    const long long body = probe.length - offset;
    if (body < 0) {
        Fail("decrypt: " + options.source + " is shorter than the body offset " + std::to_string(offset) +
             ": not a container of this layout, or the offset is beyond its end");
        return 1;
    }
    if (body > INT_MAX) {
        Fail("decrypt: the body of " + options.source + " is 2 GiB or larger");
        return 1;
    }
    // The readers from a file read every body as segmented, an ARIA body too;
    // an ARIA container goes through the reader of container images, which
    // knows the whole-document body.
    const bool aria = algorithm == kAlgorithmAria;
    std::vector<char> buffer(static_cast<size_t>(kImageDataOffset + body));
    std::vector<char> image;
    if (aria) {
        auto bytes = ReadWholeFile(options.source);
        if (!bytes || static_cast<long long>(bytes->size()) != probe.length) {
            Fail("decrypt: cannot read " + options.source);
            return 1;
        }
        image = std::move(*bytes);
    }
    const auto source = WidePath(options.source);
    int size = 0;
    CallOutcome outcome = RunLibraryCall(context, options.verbose, nullptr, [&] {
        if (aria)
            return CPVCodec::DecryptMemoryToMemory(image.data(), buffer.data(), static_cast<int>(probe.length), &size,
                                                   key, static_cast<int>(offset));
        if (options.streaming)
            return CPVCodec::DecryptFileToMemory2(source.c_str(), buffer.data(), &size, key, static_cast<int>(offset));
        return CPVCodec::DecryptFileToMemory(source.c_str(), buffer.data(), &size, key, static_cast<int>(offset));
    });
    if (outcome.ok && (size < 0 || size > body)) {
        outcome.ok = false;
        outcome.failure = "the library reported an impossible length";
    }
    if (!outcome.ok) {
        Fail("decrypt: " + outcome.failure);
        return 1;
    }
    if (!WriteAllStdout(buffer.data() + kImageDataOffset, static_cast<size_t>(size))) {
        Fail("decrypt: cannot write standard output");
        return 1;
    }
    return 0;
}

// The cipher the readers take: from an extended-form prefix, Rijndael otherwise.
int ReaderAlgorithm(const Probe& probe)
{
    const int tag = ReaderTag(probe.head, static_cast<int64_t>(probe.got));
    return tag >= 0 ? CPVCodec::ConvertFileAlgToProgAlg(static_cast<unsigned char>(tag)) : kAlgorithmRijndael;
}

// One call of the reader into a file; `progress` may be null.
CallOutcome DecryptToFile(const DecryptOptions& options, const CallContext& context, const Key& key,
                          ProgressBar* progress)
{
    const auto source = WidePath(context.source);
    const auto destination = WidePath(context.destination);
    const PVHWND window = progress != nullptr ? progress->Window() : nullptr;
    const int offset = static_cast<int>(context.offset);
    Key copy = key;  // the library's parameter is not const
    CallOutcome outcome = RunLibraryCall(context, options.verbose, progress, [&] {
        if (options.streaming)
            return CPVCodec::DecryptFile2(source.c_str(), destination.c_str(), copy.data(), window, offset);
        return CPVCodec::DecryptFileW(source.c_str(), destination.c_str(), copy.data(), window, offset);
    });
    std::fill(copy.begin(), copy.end(), 0);
    return outcome;
}

// A file that begins with no magic the library knows is taken for a plain
// document and skipped, unless --offset, --bare or --magic say where its
// body starts: a folder encrypted in part (new files, an interrupted run)
// then decrypts whole and again without failures.
DocumentResult DecryptInPlace(DecryptOptions options, const Key& key, const std::string& path)
{
    options.source = path;
    std::string error;
    auto probe = ProbeSource(path, error);
    if (!probe)
        return {DocumentResult::Kind::Failed, error};
    if (!options.offset && !options.bare && !options.magic &&
        ReadMagicForm(probe->head, static_cast<int64_t>(probe->got)) == MagicForm::None)
        return {DocumentResult::Kind::Skipped, ""};
    bool usage = false;
    auto offset = BodyOffset(options, *probe, error, usage);
    if (!offset)
        return {DocumentResult::Kind::Failed, error};
    const int algorithm = ReaderAlgorithm(*probe);
    if (!CipherAvailable(algorithm))
        return {DocumentResult::Kind::Failed, CipherUnavailable(algorithm)};
    CallContext context;
    context.operation = "decrypt";
    context.source = context.destination = path;
    context.offset = *offset;
    const CallOutcome outcome = DecryptToFile(options, context, key, nullptr);
    if (!outcome.ok)
        return {DocumentResult::Kind::Failed, outcome.failure};
    return {};
}

int DecryptMany(const DecryptOptions& options, const Key& key)
{
    if (options.toStdout) {
        Fail("decrypt: --stdout takes one container");
        return 2;
    }
    // The options alone, against no file: only their own conflicts show.
    std::string error;
    bool usage = false;
    if (!BodyOffset(options, Probe{}, error, usage) && usage) {
        Fail("decrypt: " + error);
        return 2;
    }
    return RunBulk("decrypt", options.bulk, "not protected", options.verbose,
                   [&](const std::string& path) { return DecryptInPlace(options, key, path); });
}

int Run(DecryptOptions options)
{
    const bool bulk = WantsBulk(options.bulk);
    if (!bulk && options.bulk.paths.size() > 2) {
        Fail("decrypt: give --in-place or -r to decrypt many containers in place (without them the paths are SRC "
             "[DST])");
        return 2;
    }
    if (!bulk) {
        options.source = options.bulk.paths[0];
        options.destination = options.bulk.paths.size() > 1 ? options.bulk.paths[1] : "";
        options.inPlace = options.bulk.inPlace;
    }
    if (!options.destination.empty() + options.toStdout + options.inPlace > 1) {
        Fail("decrypt: give at most one of DST, --stdout and --in-place");
        return 2;
    }
    if (!options.destination.empty() && IsFolder(options.destination)) {
        Fail("decrypt: " + options.destination + " is a folder: name the file to write");
        return 2;
    }
    std::string error;
    auto key = LoadKey(options.key, error);
    if (!key) {
        Fail("decrypt: " + error);
        return 2;
    }
    if (bulk) {
        const int status = DecryptMany(options, *key);
        std::fill(key->begin(), key->end(), 0);
        return status;
    }
    if (options.inPlace) {  // the document a link names, not the link
        const auto followed = FollowNamedLink(options.source, error);
        if (!followed) {
            Fail("decrypt: " + options.source + ": " + error);
            return 1;
        }
        options.source = *followed;
    }
    auto probe = ProbeSource(options.source, error);
    if (!probe) {
        Fail("decrypt: " + error);
        return 1;
    }
    bool usage = false;
    auto offset = BodyOffset(options, *probe, error, usage);
    if (!offset) {
        Fail("decrypt: " + error);
        return usage ? 2 : 1;
    }
    const int algorithm = ReaderAlgorithm(*probe);
    if (!CipherAvailable(algorithm)) {
        Fail("decrypt: " + CipherUnavailable(algorithm));
        return 1;
    }
    CallContext context;
    context.operation = "decrypt";
    context.source = options.source;
    context.destination = options.inPlace               ? options.source
                          : !options.destination.empty() ? options.destination
                                                         : BesideName(options.source);
    context.offset = *offset;

    int status = 0;
    if (options.toStdout) {
        status = ToStandardOutput(options, context, *probe, *offset, algorithm, key->data());
    } else {
        const bool beside = !options.inPlace && options.destination.empty();
        std::optional<ClaimedFile> claimed;
        if (beside && !(claimed = ClaimedFile::Make(context.destination, error))) {
            Fail("decrypt: " + error);
            std::fill(key->begin(), key->end(), 0);
            return 1;
        }
        ProgressBar progress("decrypt " + options.source);
        CallOutcome outcome = DecryptToFile(options, context, *key, &progress);
        if (!outcome.ok) {
            if (claimed)
                claimed->Release();
            Fail("decrypt: " + outcome.failure);
            status = 1;
        } else if (beside) {
            Fail("note: the plain document is " + context.destination + "; " + options.source +
                 " is kept (--in-place replaces it)");
        }
    }
    std::fill(key->begin(), key->end(), 0);
    return status;
}

}  // namespace

void AddDecryptCommand(CLI::App& app, int& exitStatus)
{
    auto o = std::make_shared<DecryptOptions>();
    CLI::App* decrypt = app.add_subcommand(
        "decrypt", "Decrypt a protected container into a new file, in place, or to standard output");
    decrypt->footer(
        "Where the body starts: a container beginning with VQPVA002 or VQPVA003 stores its header size N, and\n"
        "the body starts at 14 + N. The extended form (VQPVA004) does not store N: give --header-size N (the\n"
        "body starts at 92 + N). A file without a known magic is refused unless --bare (a bare body, offset 0),\n"
        "--magic M (a default-form header with the caller's magic M) or --offset says where the body starts.\n"
        "The cipher comes from the container: byte 10 of an extended-form prefix, Rijndael otherwise.\n"
        "A wrong key shows as \"wrong key or damaged container\", except for about one wrong key in 255,\n"
        "which passes the padding check, and for a body of whole 1024-byte segments, which has no padding:\n"
        "these decrypt to wrong bytes without a sign. So without DST the plain document is written beside\n"
        "SRC (x.pvc gives x, other names get .decrypted before the extension) and SRC is kept; only\n"
        "--in-place replaces SRC.\n"
        "Many containers: --in-place with two or more paths, -r (folders too) or --jobs N decrypt each in place\n"
        "through the same call, N at a time; files without a known magic are taken for plain documents and\n"
        "skipped (unless --offset, --bare or --magic is given). Links inside folders are not followed.\n"
        "Exit status: 0 done, 1 the operation failed (any document), 2 bad options, 130 interrupted.");
    decrypt->add_option("PATH", o->bulk.paths,
                        "SRC [DST]: the container and the plain file to write (default: a new file beside SRC); "
                        "with -r, --jobs or --in-place and two or more paths: the containers and folders to decrypt "
                        "in place")
        ->required();
    AddKeyOptions(*decrypt, o->key);
    decrypt->add_option("--offset", o->offset, "The body starts at this byte, whatever the header says");
    decrypt->add_option("--header-size", o->headerSize, "Extended form: the header size N (body at 92 + N)");
    decrypt->add_option("--magic", o->magic, "The container begins with this caller's magic (header mode 1)");
    decrypt->add_flag("--bare", o->bare, "SRC is a bare body (offset 0)");
    decrypt->add_flag("--streaming", o->streaming, "The streaming reader (1 KiB at a time)");
    decrypt->add_flag("--in-place", o->bulk.inPlace, "Replace SRC (or every PATH) with the plain document");
    AddBulkOptions(*decrypt, o->bulk);
    decrypt->add_flag("--stdout", o->toStdout, "Write the plain document to standard output (readers into memory)");
    decrypt->add_flag("--verbose", o->verbose, "Show the library's trace lines on standard error");
    decrypt->callback([o, &exitStatus] { exitStatus = Run(*o); });
}

}  // namespace cli
