// pvcodec encrypt: turns a plain file into a protected container, in place or
// under a new name, through the library's full writer (DoEncryptFile) or its
// streaming writer (EncryptFile2); or many documents in place (Bulk.h).
#include "Bulk.h"
#include "Commands.h"
#include "KeySource.h"
#include "LibraryCall.h"
#include "System.h"

#include "container/ContainerFormat.h"

#include <PVCodec.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace cli {
namespace {

using namespace container;

// The opaque header written when the user names none: the library writes a
// header only when it has at least one byte, and a container with a header
// is one that `pvcodec decrypt` can read without being told an offset.
constexpr char kDefaultHeader[] = "pvcodec";
constexpr size_t kMaxHeader = size_t{16} << 20;
constexpr long long kMaxDocument = 2147483647LL;  // sizes are signed 32-bit

struct EncryptOptions {
    BulkOptions bulk;  // the paths: SRC [DST], or the documents of the bulk form
    std::string source;
    std::string destination;
    KeyOptions key;
    std::string headerFile;
    std::string headerText;
    bool bare = false;
    std::optional<unsigned> headerMode;
    std::optional<std::string> magic;
    std::string prefixFile;
    std::optional<std::string> algorithm;
    bool streaming = false;
    bool verbose = false;
};

// What the writer is called with.
struct WriterCall {
    std::vector<char> header;              // empty: no header (bare body)
    unsigned mode = HEADER_MODE_DEFAULT;
    std::vector<char> magicOrPrefix;       // empty: null
    int algorithm = kAlgorithmRijndael;
};

std::optional<std::vector<char>> ReadSmallFile(const std::string& path, size_t limit, std::string& error)
{
    std::ifstream in(sys::FsPath(path), std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    std::vector<char> bytes;
    char buffer[1 << 14];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + in.gcount());
        if (bytes.size() > limit) {
            error = path + " is larger than " + std::to_string(limit) + " bytes";
            return std::nullopt;
        }
    }
    return bytes;
}

int AlgorithmFromName(const std::string& name)
{
    if (name == "aria")
        return kAlgorithmAria;
    if (name == "ate")
        return kAlgorithmAte;
    return kAlgorithmRijndael;
}

const char* AlgorithmName(int algorithm)
{
    switch (algorithm) {
    case kAlgorithmAria: return "aria";
    case kAlgorithmAte: return "ate";
    default: return "rijndael";
    }
}

// Checks the options against each other and builds the writer's arguments.
std::optional<WriterCall> Plan(const EncryptOptions& o, std::string& error)
{
    WriterCall call;
    if (o.bare + !o.headerFile.empty() + !o.headerText.empty() > 1) {
        error = "give at most one of --header-file, --header-text and --bare";
        return std::nullopt;
    }
    if (!o.headerFile.empty()) {
        auto bytes = ReadSmallFile(o.headerFile, kMaxHeader, error);
        if (!bytes)
            return std::nullopt;
        if (bytes->empty()) {
            error = "header file " + o.headerFile + " is empty (a header holds at least one byte; --bare writes none)";
            return std::nullopt;
        }
        call.header = std::move(*bytes);
    } else if (!o.headerText.empty()) {
        call.header.assign(o.headerText.begin(), o.headerText.end());
    } else if (!o.bare) {
        call.header.assign(kDefaultHeader, kDefaultHeader + sizeof kDefaultHeader - 1);
    }

    const int algorithm = o.algorithm ? AlgorithmFromName(*o.algorithm) : kAlgorithmRijndael;
    unsigned mode = HEADER_MODE_DEFAULT;
    if (o.headerMode)
        mode = *o.headerMode;
    else if (!o.prefixFile.empty() || algorithm != kAlgorithmRijndael)
        mode = HEADER_MODE_EXTENDED;
    else if (o.magic)
        mode = HEADER_MODE_CALLER_MAGIC;
    if (mode > HEADER_MODE_EXTENDED) {
        error = "--header-mode is 0, 1 or 2";
        return std::nullopt;
    }
    call.mode = mode;
    if (o.magic && mode != HEADER_MODE_CALLER_MAGIC) {
        error = "--magic belongs to header mode 1";
        return std::nullopt;
    }
    if (!o.prefixFile.empty() && mode != HEADER_MODE_EXTENDED) {
        error = "--prefix-file belongs to header mode 2";
        return std::nullopt;
    }
    if (algorithm != kAlgorithmRijndael && mode != HEADER_MODE_EXTENDED) {
        error = std::string("--alg ") + AlgorithmName(algorithm) +
                " writes the extended form (header mode 2): only its prefix names the cipher";
        return std::nullopt;
    }
    if (mode != HEADER_MODE_DEFAULT && call.header.empty()) {
        error = "header mode " + std::to_string(mode) + " needs a header (the library writes none without one)";
        return std::nullopt;
    }

    if (mode == HEADER_MODE_CALLER_MAGIC && o.magic) {
        if (o.magic->empty() || o.magic->size() > static_cast<size_t>(kMagicFieldSize)) {
            error = "--magic takes 1 to 10 characters";
            return std::nullopt;
        }
        if (*o.magic == MAGIC_EXTENDED) {
            error = "--magic VQPVA004 would make readers take the header size's lowest byte as the cipher; use "
                    "--header-mode 2 or --alg for the extended form";
            return std::nullopt;
        }
        call.magicOrPrefix.assign(o.magic->begin(), o.magic->end());
        call.magicOrPrefix.push_back(0);
    }

    if (mode == HEADER_MODE_EXTENDED) {
        std::vector<char> prefix(kHeaderPrefixSize, 0);
        if (!o.prefixFile.empty()) {
            auto bytes = ReadSmallFile(o.prefixFile, kHeaderPrefixSize, error);
            if (!bytes)
                return std::nullopt;
            if (bytes->size() != static_cast<size_t>(kHeaderPrefixSize)) {
                error = "prefix file " + o.prefixFile + " must hold exactly 92 bytes (it holds " +
                        std::to_string(bytes->size()) + ")";
                return std::nullopt;
            }
            prefix = std::move(*bytes);
            const unsigned char tag = static_cast<unsigned char>(prefix[kAlgorithmTagOffset]);
            const int prefixAlgorithm = CPVCodec::ConvertFileAlgToProgAlg(tag);
            if (o.algorithm && prefixAlgorithm != algorithm) {
                error = std::string("the prefix file names ") + AlgorithmName(prefixAlgorithm) +
                        " at byte 10, but --alg asks for " + AlgorithmName(algorithm);
                return std::nullopt;
            }
            // The writer takes the cipher from byte 10 whatever the prefix
            // holds; the readers only when it begins "VQPVA004" and a zero.
            if (!IsExtendedForm(reinterpret_cast<const unsigned char*>(prefix.data())) &&
                prefixAlgorithm != kAlgorithmRijndael) {
                error = "the prefix file names " + std::string(AlgorithmName(prefixAlgorithm)) +
                        " at byte 10 but does not begin with VQPVA004 and a zero byte: readers would take the "
                        "body for Rijndael";
                return std::nullopt;
            }
            call.algorithm = prefixAlgorithm;
        } else {
            std::copy_n(MAGIC_EXTENDED, kMagicLength, prefix.begin());
            prefix[kAlgorithmTagOffset] = static_cast<char>(CPVCodec::ConvertProgAlgToFileAlg(algorithm));
            call.algorithm = algorithm;
        }
        call.magicOrPrefix = std::move(prefix);
    }

    if (o.streaming && (mode != HEADER_MODE_DEFAULT || call.algorithm != kAlgorithmRijndael)) {
        error = "--streaming writes only the default form (VQPVA002) with Rijndael";
        return std::nullopt;
    }
    return call;
}

// The source must be a readable regular file of less than 2 GiB. Checked
// here so that a missing file fails at once (the library's writer tries three
// times, a second apart) and with the system's own words.
bool CheckSource(const std::string& path, std::string& error)
{
    const int fd = sys::OpenFile(path, O_RDONLY);
    if (fd < 0) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::optional<sys::FileFacts> facts = sys::FactsOf(fd);
    sys::CloseFile(fd);
    if (!facts || !facts->regular) {
        error = path + " is not a regular file";
        return false;
    }
    if (facts->size > kMaxDocument) {
        error = path + " is 2 GiB or larger; containers hold documents of less than 2 GiB";
        return false;
    }
    return true;
}

// One call of the writer; `progress` may be null.
CallOutcome Encrypt(const EncryptOptions& options, WriterCall call, const Key& key, const std::string& sourceName,
                    const std::string& destinationName, ProgressBar* progress)
{
    CallContext context;
    context.operation = "encrypt";
    context.source = sourceName;
    context.destination = destinationName.empty() ? sourceName : destinationName;
    context.bareBody = call.header.empty();
    const auto source = WidePath(sourceName);
    const auto destination = destinationName.empty() ? source : WidePath(destinationName);
    char* header = call.header.empty() ? nullptr : call.header.data();
    const int headerSize = static_cast<int>(call.header.size());
    char* magicOrPrefix = call.magicOrPrefix.empty() ? nullptr : call.magicOrPrefix.data();
    Key copy = key;  // the library's parameter is not const
    const PVHWND window = progress != nullptr ? progress->Window() : nullptr;
    CallOutcome outcome = RunLibraryCall(context, options.verbose, progress, [&] {
        if (options.streaming)
            return CPVCodec::EncryptFile2(source.c_str(), destination.c_str(), copy.data(), header, headerSize,
                                          window);
        return CPVCodec::DoEncryptFile(source.c_str(), destination.c_str(), copy.data(), header, headerSize, window,
                                       call.mode, magicOrPrefix);
    });
    std::fill(copy.begin(), copy.end(), 0);
    return outcome;
}

void NoteHeaderSize(const WriterCall& call)
{
    if (call.mode == HEADER_MODE_EXTENDED)
        Fail("note: the extended form does not store its header size: decrypt with --header-size " +
             std::to_string(call.header.size()));
}

int EncryptMany(const EncryptOptions& options, const WriterCall& call, const Key& key)
{
    const int status = RunBulk("encrypt", options.bulk, "already protected", options.verbose,
                               [&](const std::string& path) -> DocumentResult {
                                   std::string error;
                                   if (!CheckSource(path, error))
                                       return {DocumentResult::Kind::Failed, error};
                                   const CallOutcome outcome = Encrypt(options, call, key, path, "", nullptr);
                                   if (outcome.ok)
                                       return {};
                                   if (outcome.alreadyProtected)
                                       return {DocumentResult::Kind::Skipped, ""};
                                   return {DocumentResult::Kind::Failed, outcome.failure};
                               });
    NoteHeaderSize(call);
    return status;
}

int Run(EncryptOptions options)
{
    const bool bulk = WantsBulk(options.bulk);
    if (!bulk && options.bulk.paths.size() > 2) {
        Fail("encrypt: give --in-place or -r to encrypt many documents in place (without them the paths are SRC "
             "[DST])");
        return 2;
    }
    std::string error;
    if (!bulk) {
        options.source = options.bulk.paths[0];
        options.destination = options.bulk.paths.size() > 1 ? options.bulk.paths[1] : "";
        if (options.destination.empty()) {  // in place: the document a link names, not the link
            const auto followed = FollowNamedLink(options.source, error);
            if (!followed) {
                Fail("encrypt: " + options.source + ": " + error);
                return 1;
            }
            options.source = *followed;
        }
    }
    auto plan = Plan(options, error);
    if (!plan) {
        Fail("encrypt: " + error);
        return 2;
    }
    if (!options.destination.empty() && IsFolder(options.destination)) {
        Fail("encrypt: " + options.destination + " is a folder: name the container file");
        return 2;
    }
    auto key = LoadKey(options.key, error);
    if (!key) {
        Fail("encrypt: " + error);
        return 2;
    }
    if (!options.streaming && !CipherAvailable(plan->algorithm)) {
        Fail("encrypt: " + CipherUnavailable(plan->algorithm));
        return 1;
    }
    int status = 0;
    if (bulk) {
        status = EncryptMany(options, *plan, *key);
    } else if (!CheckSource(options.source, error)) {
        Fail("encrypt: " + error);
        status = 1;
    } else {
        ProgressBar progress("encrypt " + options.source);
        const CallOutcome outcome = Encrypt(options, *plan, *key, options.source, options.destination, &progress);
        if (!outcome.ok) {
            Fail("encrypt: " + outcome.failure);
            status = 1;
        } else {
            NoteHeaderSize(*plan);
        }
    }
    std::fill(key->begin(), key->end(), 0);
    return status;
}

}  // namespace

void AddEncryptCommand(CLI::App& app, int& exitStatus)
{
    auto o = std::make_shared<EncryptOptions>();
    CLI::App* encrypt = app.add_subcommand(
        "encrypt", "Encrypt a file into a protected container (in place when DST is left out)");
    encrypt->footer(
        "Without --header-file or --header-text the container carries the 7-byte header \"pvcodec\" in the\n"
        "default form (\"VQPVA002\", N, header, body), which `pvcodec decrypt` reads without further options.\n"
        "--bare writes the body alone; the library then accepts only some document sizes, as its size check\n"
        "counts 14 header bytes. --alg aria|ate writes the extended form: a 92-byte prefix \"VQPVA004\", 0, 0,\n"
        "the tag 'A' or 'T', zeros (or --prefix-file), then the header; decrypt it with --header-size N.\n"
        "A file that is replaced is wiped out first.\n"
        "Many documents: --in-place with two or more paths, -r (folders too) or --jobs N encrypt each in place\n"
        "through the same call, N at a time; already protected ones are skipped. Links inside folders are not\n"
        "followed. Each failure gets its line, then one summary line. Ctrl-C lets the documents in hand finish.\n"
        "Exit status: 0 done, 1 the operation failed (any document), 2 bad options, 130 interrupted.");
    encrypt->add_option("PATH", o->bulk.paths,
                        "SRC [DST]: the plain file and the container to write (default: SRC, replaced in place); "
                        "with --in-place or -r: the documents and folders to encrypt in place")
        ->required();
    encrypt->add_flag("--in-place", o->bulk.inPlace, "Every PATH is a document to encrypt in place");
    AddBulkOptions(*encrypt, o->bulk);
    AddKeyOptions(*encrypt, o->key);
    encrypt->add_option("--header-file", o->headerFile, "The opaque header bytes (1 byte to 16 MiB)");
    encrypt->add_option("--header-text", o->headerText, "The opaque header as text");
    encrypt->add_flag("--bare", o->bare, "No header: the body alone");
    encrypt->add_option("--header-mode", o->headerMode,
                        "0 default form; 1 default form with --magic; 2 extended form (--prefix-file or --alg)");
    encrypt->add_option("--magic", o->magic, "Header mode 1: the magic, at most 10 characters");
    encrypt->add_option("--prefix-file", o->prefixFile, "Header mode 2: the 92-byte prefix (byte 10 names the cipher)");
    encrypt->add_option("--alg", o->algorithm, "Cipher: rijndael (default), aria or ate (extended form)")
        ->check(CLI::IsMember({"rijndael", "aria", "ate"}));
    encrypt->add_flag("--streaming", o->streaming, "The streaming writer (1 KiB at a time; default form, Rijndael)");
    encrypt->add_flag("--verbose", o->verbose, "Show the library's trace lines on standard error");
    encrypt->callback([o, &exitStatus] { exitStatus = Run(*o); });
}

}  // namespace cli
