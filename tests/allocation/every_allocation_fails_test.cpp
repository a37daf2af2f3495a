// Every exported function under memory exhaustion: for each one, allocation
// number n of the call and every later one fail, for n = 1, 2, ... until the
// call gets through without reaching its n-th allocation. Whatever fails, the
// call returns - no exception reaches the host, the process lives - and its
// result is either the right one or the function's failure result; a file
// driver leaves the source as it was and never loses the document.
#include "PVCodec.h"
#include "allocation/FailingAllocator.h"
#include "platform/FaultInjection.h"
#include "platform/WideString.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<char>;

char kKey[] = "0123456789abcdef";
char kHeader[] = "hdr";
constexpr int kHeaderSize = 3;
constexpr int kOffset = 14 + kHeaderSize;
constexpr size_t kLimit = 5000;

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// What one call is judged by: "" when the result is acceptable.
using Judge = std::function<std::string(int result)>;

struct ExportedCall {
    std::string name;
    std::function<void()> prepare;  // runs with the allocator working
    std::function<int()> call;      // runs with the allocator failing
    Judge judge;
};

// The world the calls work in, made once: files, containers, keys.
struct World {
    TempDir dir;
    Bytes document = reference::Document(3000, 5);
    Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", Bytes(kHeader, kHeader + kHeaderSize)),
                                        reference::SegmentedBody(kKey, document));
    std::string source = dir / "source";
    std::string destination = dir / "destination";
    std::u16string wideSource = plat::Utf8ToUtf16(source);
    std::u16string wideDestination = plat::Utf8ToUtf16(destination);
    Bytes publicKey, privateKey;

    World()
    {
        EVP_PKEY* key = EVP_RSA_gen(1024);
        publicKey = Der([&](unsigned char** p) { return i2d_PUBKEY(key, p); });
        privateKey = Der([&](unsigned char** p) { return i2d_PrivateKey(key, p); });
        EVP_PKEY_free(key);
    }
    template <typename Encode>
    static Bytes Der(Encode encode)
    {
        unsigned char* data = nullptr;
        const int n = encode(&data);
        Bytes out(data, data + (n > 0 ? n : 0));
        OPENSSL_free(data);
        return out;
    }

    // The source holds `bytes`; nothing else is in the folder.
    void Reset(const Bytes& bytes) const
    {
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            std::filesystem::remove(entry.path());
        WriteFile(source, bytes);
    }

    // "" when the files are as a call that returned `result` may leave them:
    // the expected file at `target` on success; on failure the source as it
    // was and, in place, the document recoverable (the source itself, or a
    // complete "~PV" file when the source was already replaced).
    std::string Files(int result, const Bytes& input, const Bytes& expected, bool inPlace) const
    {
        const std::string problem = FileProblem(result, input, expected, inPlace);
        if (problem.empty())
            return problem;
        std::string listing = problem + "; result " + std::to_string(result) + "; files:";
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
            const Bytes bytes = ReadFile(entry.path());
            listing += " " + entry.path().filename().string() + " (" + std::to_string(bytes.size()) + " bytes" +
                       (bytes == input ? ", the input" : bytes == expected ? ", the result" : "") + ")";
        }
        return listing;
    }
    std::string FileProblem(int result, const Bytes& input, const Bytes& expected, bool inPlace) const
    {
        std::vector<Bytes> temporaries;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            if (entry.path().filename().string().rfind("~PV", 0) == 0)
                temporaries.push_back(ReadFile(entry.path()));
        const bool sourceThere = std::filesystem::exists(source);
        if (result == 1) {
            if (ReadFile(inPlace ? source : destination) != expected)
                return "succeeded with a wrong result";
            return inPlace || ReadFile(source) == input ? "" : "changed the source";
        }
        if (result != 0)
            return "answered " + std::to_string(result);
        if (sourceThere && ReadFile(source) == input)
            return inPlace || !std::filesystem::exists(destination) ? "" : "left a destination behind";
        // In place, once the source is wiped or removed, the complete result
        // waits under its "~PV" name.
        for (const Bytes& temporary : temporaries)
            if (inPlace && temporary == expected)
                return "";
        return "lost the document";
    }
};

World& TheWorld()
{
    static World world;
    return world;
}

// A raw function's result and output, judged against the same call made with
// the allocator working.
ExportedCall Raw(const std::string& name, std::function<int(char*, char*)> function, Bytes input)
{
    auto output = std::make_shared<Bytes>(input.size() + 64);
    auto expected = std::make_shared<std::pair<int, Bytes>>();
    auto in = std::make_shared<Bytes>(std::move(input));
    ExportedCall c;
    c.name = name;
    c.prepare = [=] {
        if (expected->second.empty()) {
            Bytes reference(output->size());
            expected->first = function(in->data(), reference.data());
            expected->second = reference;
        }
        std::fill(output->begin(), output->end(), 0);
    };
    c.call = [=] { return function(in->data(), output->data()); };
    c.judge = [=](int result) -> std::string {
        if (result <= 0)
            return "";
        if (result != expected->first)
            return "answered " + std::to_string(result) + " instead of " + std::to_string(expected->first);
        return std::equal(output->begin(), output->begin() + result, expected->second.begin()) ? ""
                                                                                                : "wrong bytes";
    };
    return c;
}

std::vector<ExportedCall> Calls()
{
    World& w = TheWorld();
    std::vector<ExportedCall> calls;

    // ---- Raw buffer functions, each cipher; the settings' choice once.
    const Bytes blocks = reference::Document(64, 9);
    for (int algorithm : {0, 1, 2}) {
        const std::string a = std::to_string(algorithm);
        calls.push_back(Raw("SFMemoryBlockEncrypt16Ex_" + a, [algorithm](char* in, char* out) {
            return CPVCodec::SFMemoryBlockEncrypt16Ex(in, out, kKey, 64, algorithm);
        }, blocks));
        calls.push_back(Raw("SFMemoryBlockDecrypt16Ex_" + a, [algorithm](char* in, char* out) {
            return CPVCodec::SFMemoryBlockDecrypt16Ex(in, out, kKey, 64, algorithm);
        }, blocks));
        calls.push_back(Raw("SFPadEncryptEx_" + a, [algorithm](char* in, char* out) {
            return CPVCodec::SFPadEncryptEx(in, out, kKey, 50, algorithm);
        }, blocks));
        Bytes padded(80);
        const int n = CPVCodec::SFPadEncryptEx(const_cast<char*>(blocks.data()), padded.data(), kKey, 50, algorithm);
        padded.resize(n > 0 ? static_cast<size_t>(n) : 16);
        calls.push_back(Raw("SFPadDecryptEx_" + a, [algorithm, n](char* in, char* out) {
            return CPVCodec::SFPadDecryptEx(in, out, kKey, n > 0 ? n : 16, algorithm);
        }, padded));
    }
    calls.push_back(Raw("SFPadEncrypt", [](char* in, char* out) { return CPVCodec::SFPadEncrypt(in, out, kKey, 50); },
                        blocks));

    // ---- Memory writer and reader, Rijndael and ARIA.
    for (const char tag : {'R', 'A'}) {
        auto image = std::make_shared<Bytes>();
        auto expected = std::make_shared<Bytes>();
        auto prefix = std::make_shared<Bytes>(reference::ExtendedPrefix(tag));
        auto run = [=, &w] {
            int size = 0;
            const int r = CPVCodec::DoEncryptMemoryToMemory(image->data(), static_cast<int>(w.document.size()), &size,
                                                            kKey, kHeader, kHeaderSize, 2, prefix->data());
            return r == 1 ? size : -r;
        };
        ExportedCall writer;
        writer.name = std::string("DoEncryptMemoryToMemory_") + tag;
        writer.prepare = [=, &w] {
            image->assign(32 + w.document.size() + 200, 0);
            std::copy(w.document.begin(), w.document.end(), image->begin() + 32);
            if (expected->empty()) {
                const int size = run();
                expected->assign(image->begin() + 32, image->begin() + 32 + std::max(size, 0));
                image->assign(32 + w.document.size() + 200, 0);
                std::copy(w.document.begin(), w.document.end(), image->begin() + 32);
            }
        };
        writer.call = run;
        writer.judge = [=](int size) -> std::string {
            if (size <= 0)
                return "";
            return Bytes(image->begin() + 32, image->begin() + 32 + size) == *expected ? "" : "wrong container";
        };
        calls.push_back(writer);

        auto output = std::make_shared<Bytes>();
        auto source = std::make_shared<Bytes>();
        ExportedCall reader;
        reader.name = std::string("DecryptMemoryToMemory_") + tag;
        reader.prepare = [=] {
            *source = *expected;
            output->assign(32 + expected->size() + 64, 0);
        };
        reader.call = [=] {
            int size = 0;
            const int r = CPVCodec::DecryptMemoryToMemory(source->data(), output->data(),
                                                          static_cast<int>(source->size()), &size, kKey,
                                                          92 + kHeaderSize);
            return r == 1 ? size : -r;
        };
        reader.judge = [=, &w](int size) -> std::string {
            if (size <= 0)
                return size == 0 || size == -1 ? "" : "answered " + std::to_string(-size);
            return Bytes(output->begin() + 32, output->begin() + 32 + size) == w.document ? "" : "wrong document";
        };
        calls.push_back(reader);
    }

    // ---- File drivers: to a new file and in place.
    const Bytes encrypted = w.container;
    using Driver = std::function<int(const PVWCHAR*, const PVWCHAR*)>;
    const std::vector<std::pair<std::string, Driver>> writers = {
        {"EncryptFileW", [](auto s, auto d) { return CPVCodec::EncryptFileW(s, d, kKey, kHeader, kHeaderSize); }},
        {"EncryptFile2",
         [](auto s, auto d) { return CPVCodec::EncryptFile2(s, d, kKey, kHeader, kHeaderSize, nullptr); }},
    };
    const std::vector<std::pair<std::string, Driver>> readers = {
        {"DecryptFileW", [](auto s, auto d) { return CPVCodec::DecryptFileW(s, d, kKey, nullptr, kOffset); }},
        {"DecryptFile2", [](auto s, auto d) { return CPVCodec::DecryptFile2(s, d, kKey, nullptr, kOffset); }},
    };
    for (bool inPlace : {false, true}) {
        for (bool encrypting : {true, false}) {
            for (const auto& [name, driver] : encrypting ? writers : readers) {
                const Bytes input = encrypting ? w.document : w.container;
                const Bytes expected = encrypting ? w.container : w.document;
                ExportedCall c;
                c.name = name + (inPlace ? "_in_place" : "_new_file");
                c.prepare = [&w, input] { w.Reset(input); };
                c.call = [&w, driver = driver, inPlace] {
                    return driver(w.wideSource.c_str(), (inPlace ? w.wideSource : w.wideDestination).c_str());
                };
                c.judge = [&w, input, expected, inPlace](int r) { return w.Files(r, input, expected, inPlace); };
                calls.push_back(c);
            }
        }
    }
    for (bool streaming : {false, true}) {
        auto buffer = std::make_shared<Bytes>();
        ExportedCall c;
        c.name = streaming ? "DecryptFileToMemory2" : "DecryptFileToMemory";
        c.prepare = [&w, buffer] {
            w.Reset(w.container);
            buffer->assign(32 + w.container.size(), 0);
        };
        c.call = [&w, buffer, streaming] {
            int size = 0;
            const auto function = streaming ? CPVCodec::DecryptFileToMemory2 : CPVCodec::DecryptFileToMemory;
            const int r = function(w.wideSource.c_str(), buffer->data(), &size, kKey, kOffset);
            return r == 1 ? size : -r;
        };
        c.judge = [&w, buffer](int size) -> std::string {
            if (size <= 0)
                return size == 0 || size == -1 ? "" : "answered " + std::to_string(-size);
            return Bytes(buffer->begin() + 32, buffer->begin() + 32 + size) == w.document ? "" : "wrong document";
        };
        calls.push_back(c);
    }

    // ---- Access lists.
    calls.push_back({"CopyFileSecurity", [&w] {
                         w.Reset(w.document);
                         WriteFile(w.destination, w.document);
                     },
                     [&w] { return CPVCodec::CopyFileSecurity(w.wideSource.c_str(), w.wideDestination.c_str()); },
                     [](int r) { return r == 0 || r == 1 ? "" : "answered " + std::to_string(r); }});

    // ---- RSA and random keys.
    auto cipher = std::make_shared<Bytes>(256);
    auto plain = std::make_shared<Bytes>(256);
    calls.push_back({"SFRSAEncrypt", [] {},
                     [&w, cipher] {
                         char message[] = "a document key..";
                         return CPVCodec::SFRSAEncrypt(message, cipher->data(), w.publicKey.data(),
                                                       w.publicKey.size(), 16);
                     },
                     [](int r) { return r < 0 || r == 128 ? "" : "answered " + std::to_string(r); }});
    calls.push_back({"SFRSADecrypt",
                     [&w, cipher] {
                         char message[] = "a document key..";
                         CPVCodec::SFRSAEncrypt(message, cipher->data(), w.publicKey.data(), w.publicKey.size(), 16);
                     },
                     [&w, cipher, plain] {
                         return CPVCodec::SFRSADecrypt(cipher->data(), plain->data(), w.privateKey.data(),
                                                       w.privateKey.size(), 128);
                     },
                     [plain](int r) -> std::string {
                         if (r < 0)
                             return "";
                         return r == 16 && std::string(plain->data(), 16) == "a document key.." ? "" : "wrong key";
                     }});
    auto random = std::make_shared<Bytes>(32);
    calls.push_back({"GenerateRSADocuKey", [random] { std::fill(random->begin(), random->end(), 0); },
                     [random] { return CPVCodec::GenerateRSADocuKey(random->data(), 32); },
                     [random](int r) -> std::string {
                         const bool filled = *random != Bytes(32, 0);
                         if (r == 0 && !filled)
                             return "answered 0 without filling the buffer";
                         return r == 0 || (r < 0 && !filled) ? "" : "answered " + std::to_string(r);
                     }});
    calls.push_back({"CheckRSAKey", [] {},
                     [&w] {
                         return CPVCodec::CheckRSAKey(w.publicKey.data(), w.publicKey.size(), w.privateKey.data(),
                                                      w.privateKey.size());
                     },
                     [](int r) { return r <= 0 ? "" : "answered " + std::to_string(r); }});

    // ---- The refused instance interface.
    calls.push_back({"CPVCodec_BlockEncrypt", [] {},
                     [] {
                         CPVCodec codec;
                         char buffer[16] = {};
                         return codec.BlockEncrypt(buffer, 16, buffer);
                     },
                     [](int r) { return r == -1 ? "" : "answered " + std::to_string(r); }});
    return calls;
}

class EveryAllocationFails : public ::testing::TestWithParam<size_t> {};

TEST_P(EveryAllocationFails, TheCallEndsWithItsResultOrItsFailure)
{
    static const std::vector<ExportedCall> calls = Calls();
    const ExportedCall& c = calls.at(GetParam());
    SCOPED_TRACE(c.name);
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);  // retries wait without waiting
    size_t nth = 1;
    for (; nth < kLimit; ++nth) {
        c.prepare();
        failingallocator::FailFrom(nth);
        int result = 0;
        bool escaped = false;
        try {
            result = c.call();
        } catch (...) {
            escaped = true;
        }
        const bool failed = failingallocator::Stop();
        ASSERT_FALSE(escaped) << "an exception escaped with allocations failing from number " << nth;
        const std::string problem = c.judge(result);
        ASSERT_EQ(problem, "") << "allocations failing from number " << nth;
        if (!failed)
            break;  // the call got through without its nth allocation
    }
    EXPECT_LT(nth, kLimit);
}

std::string CaseName(const ::testing::TestParamInfo<size_t>& info)
{
    static const std::vector<ExportedCall> calls = Calls();
    return calls.at(info.param).name;
}

INSTANTIATE_TEST_SUITE_P(ExportedFunctions, EveryAllocationFails, ::testing::Range<size_t>(0, Calls().size()),
                         CaseName);

}  // namespace
