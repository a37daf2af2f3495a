// Every export with allocations failing from the n-th on, n = 1, 2, ...: no exception, the right or failure result, no
// lost document. Every operator new form is replaced: no block crosses to another allocator (sanitizers bring theirs).
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "support/ContainerFiles.h"
#ifndef _WIN32
#include "support/FileSizeLimit.h"
#endif
#include "support/OpenSslKeys.h"
#include "support/ReferenceContainer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <new>

#ifdef _WIN32
#include <malloc.h>
#endif

namespace {

thread_local bool t_armed = false;
thread_local bool t_failed = false;
thread_local size_t t_count = 0;
thread_local size_t t_failFrom = 0;

void* Allocate(size_t size, size_t alignment) noexcept
{
    if (t_armed && ++t_count >= t_failFrom) {
        t_failed = true;
        return nullptr;
    }
    size = std::max<size_t>(size, 1);
    if (alignment <= alignof(std::max_align_t))
        return std::malloc(size);  // as the runtime's own new, whose blocks this delete may get
#ifdef _WIN32  // no aligned_alloc; these blocks come back through the aligned forms of delete only
    return _aligned_malloc(size, alignment);
#else
    return std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
#endif
}

void FreeAligned(void* p) noexcept
{
#ifdef _WIN32
    _aligned_free(p);
#else
    std::free(p);
#endif
}

void* AllocateOrThrow(size_t size, size_t alignment)
{
    if (void* p = Allocate(size, alignment))
        return p;
    throw std::bad_alloc();
}

}  // namespace

constexpr size_t kPlain = alignof(std::max_align_t);
void* operator new(size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<size_t>(a)); }
void* operator new[](size_t size, std::align_val_t a) { return AllocateOrThrow(size, static_cast<size_t>(a)); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new(size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(a));
}
void* operator new[](size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    return Allocate(size, static_cast<size_t>(a));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { FreeAligned(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(p); }

namespace {

using containerfiles::Bytes;
char* const kKey = containerfiles::Key();
char kHeader[] = "hdr";
constexpr int kOffset = 14 + 3;

struct ExportedCall {
    std::string name;
    std::function<void()> prepare;          // runs with the allocator working
    std::function<int()> call;              // runs with allocations failing
    std::function<std::string(int)> judge;  // "" when the result may be
};

// The calls, with the files, containers and keys they work on.
struct Calls {
    TempDir dir;
    const Bytes document = reference::Document(3000, 5);
    const Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", Bytes(kHeader, kHeader + 3)),
                                              reference::SegmentedBody(containerfiles::kKey, document));
    const std::string source = dir / "source", destination = dir / "destination";
    const HostString wideSource = HostPath(source), wideDestination = HostPath(destination);
    Bytes publicKey, privateKey, in, out;
    std::vector<ExportedCall> calls;

    // A failure result, or the result and output of the same call with the allocator working.
    void Add(const std::string& name, std::function<void()> prepare, std::function<int()> call,
             std::function<bool(int)> failure, std::function<Bytes()> output = [] { return Bytes(); })
    {
        calls.push_back({name, prepare, call, [=](int result) -> std::string {
            if (failure(result))
                return "";
            const Bytes got = output();
            prepare();
            const int working = call();
            if (result != working)
                return "answered " + std::to_string(result) + " instead of " + std::to_string(working);
            return got == output() ? "" : "wrong bytes";
        }});
    }
    // The in-memory form of a call: its output buffer, and its size on success (-result otherwise).
    void AddMemory(const std::string& name, std::function<void()> prepare, std::function<int(int*)> function)
    {
        Add(name, prepare, [function] {
            int size = 0;
            const int r = function(&size);
            return r == 1 ? size : -r;
        }, [](int r) { return r == 0 || r == -1; }, [this] { return out; });
    }
    // "" when the files are as `result` allows: the result in place, else the source, else (in place) a "~PV" result.
    std::string Files(int result, const Bytes& input, const Bytes& output, bool inPlace) const
    {
        if (result == 1)
            return containerfiles::FileBytes(inPlace ? source : destination) == output &&
                           (inPlace || containerfiles::FileBytes(source) == input) ? "" : "succeeded with wrong files";
        if (result != 0)
            return "answered " + std::to_string(result);
        if (containerfiles::FileBytes(source) == input)
            return inPlace || !Exists(destination) ? "" : "left a destination behind";
        for (const std::string& temporary : containerfiles::Temporaries(dir.Path()))
            if (inPlace && containerfiles::FileBytes(temporary) == output)
                return "";
        return "lost the document";
    }
    void Reset(const Bytes& bytes) const
    {
        for (const std::string& name : containerfiles::Entries(dir.Path()))
            std::filesystem::remove(dir / name);
        containerfiles::WriteFile(source, bytes);
    }

    Calls()
    {
        publicKey = reference::RsaPair(1024).spki;
        privateKey = reference::RsaPair(1024).pkcs1Private;

        // Raw buffer functions, each cipher; the settings' choice once.
        const Bytes blocks = reference::Document(64, 9);
        auto raw = [this](const std::string& name, const Bytes& input, std::function<int(char*, char*)> function) {
            const auto prepare = [this, input] {
                in = input;
                out.assign(128, 0);
            };
            Add(name, prepare, [this, function] { return function(in.data(), out.data()); }, [](int r) { return r <= 0; },
                [this] { return out; });
        };
        for (int a : {0, 1, 2}) {
            const std::string n = "_" + std::to_string(a);
            Bytes padded(64);  // 50 bytes padded
            CPVCodec::SFPadEncryptEx(const_cast<char*>(blocks.data()), padded.data(), kKey, 50, a);
            raw("SFMemoryBlockEncrypt16Ex" + n, blocks,
                [a](char* i, char* o) { return CPVCodec::SFMemoryBlockEncrypt16Ex(i, o, kKey, 64, a); });
            raw("SFMemoryBlockDecrypt16Ex" + n, blocks,
                [a](char* i, char* o) { return CPVCodec::SFMemoryBlockDecrypt16Ex(i, o, kKey, 64, a); });
            raw("SFPadEncryptEx" + n, blocks,
                [a](char* i, char* o) { return CPVCodec::SFPadEncryptEx(i, o, kKey, 50, a); });
            raw("SFPadDecryptEx" + n, padded,
                [a](char* i, char* o) { return CPVCodec::SFPadDecryptEx(i, o, kKey, 64, a); });
        }
        raw("SFPadEncrypt", blocks, [](char* i, char* o) { return CPVCodec::SFPadEncrypt(i, o, kKey, 50); });

        // Memory writer and reader, Rijndael and ARIA.
        for (const char tag : {'R', 'A'}) {
            const auto writerInput = [this] {
                out.assign(32 + document.size() + 200, 0);
                std::ranges::copy(document, out.begin() + 32);
            };
            auto writer = [this, prefix = reference::ExtendedPrefix(tag)](int* size) mutable {
                return CPVCodec::DoEncryptMemoryToMemory(out.data(), static_cast<int>(document.size()), size, kKey,
                                                         kHeader, 3, 2, prefix.data());
            };
            AddMemory(std::string("DoEncryptMemoryToMemory_") + tag, writerInput, writer);
            writerInput();
            int size = 0;
            writer(&size);
            const Bytes image(out.begin() + 32, out.begin() + 32 + size);
            const auto readerInput = [this, image] {
                in = image;
                out.assign(32 + image.size() + 64, 0);
            };
            AddMemory(std::string("DecryptMemoryToMemory_") + tag, readerInput, [this](int* size) {
                return CPVCodec::DecryptMemoryToMemory(in.data(), out.data(), static_cast<int>(in.size()), size, kKey, 95);
            });
        }

        // File drivers: to a new file and in place; to memory.
        using Driver = int (*)(const PVWCHAR*, const PVWCHAR*);
        const std::tuple<const char*, bool, Driver> drivers[] = {
            {"EncryptFileW", true, [](auto s, auto d) { return CPVCodec::EncryptFileW(s, d, kKey, kHeader, 3); }},
            {"EncryptFile2", true,
             [](auto s, auto d) { return CPVCodec::EncryptFile2(s, d, kKey, kHeader, 3, nullptr); }},
            {"DecryptFileW", false,
             [](auto s, auto d) { return CPVCodec::DecryptFileW(s, d, kKey, nullptr, kOffset); }},
            {"DecryptFile2", false,
             [](auto s, auto d) { return CPVCodec::DecryptFile2(s, d, kKey, nullptr, kOffset); }},
        };
        for (bool inPlace : {false, true}) {
            for (const auto& [name, encrypting, driver] : drivers) {
                const Bytes input = encrypting ? document : container, output = encrypting ? container : document;
                calls.push_back(
                    {name + std::string(inPlace ? "_in_place" : "_new_file"), [this, input] { Reset(input); },
                     [this, driver, inPlace] {
                         return driver(wideSource.c_str(), (inPlace ? wideSource : wideDestination).c_str());
                     },
                     [this, input, output, inPlace](int r) { return Files(r, input, output, inPlace); }});
            }
        }
        using ToMemory = int (*)(const PVWCHAR*, char*, int*, char*, int);
        for (auto [name, function] :
             {std::pair<const char*, ToMemory>{"DecryptFileToMemory", CPVCodec::DecryptFileToMemory},
              {"DecryptFileToMemory2", CPVCodec::DecryptFileToMemory2}}) {
            AddMemory(name, [this] {
                Reset(container);
                out.assign(32 + container.size(), 0);
            }, [this, function](int* size) { return function(wideSource.c_str(), out.data(), size, kKey, kOffset); });
        }
        calls.push_back({"CopyFileSecurity",
                         [this] {
                             Reset(document);
                             containerfiles::WriteFile(destination, document);
                         },
                         [this] { return CPVCodec::CopyFileSecurity(wideSource.c_str(), wideDestination.c_str()); },
                         [](int r) { return r == 0 || r == 1 ? "" : "answered " + std::to_string(r); }});

        // RSA and random keys: OAEP's cipher text is random, its length is not.
        char message[] = "a document key..";
        Add("SFRSAEncrypt", [this] { out.assign(256, 0); }, [this, message]() mutable {
            return CPVCodec::SFRSAEncrypt(message, out.data(), publicKey.data(), publicKey.size(), 16);
        }, [](int r) { return r < 0; });
        Add(
            "SFRSADecrypt",
            [this, message]() mutable {
                in.assign(256, 0);
                out.assign(256, 0);
                CPVCodec::SFRSAEncrypt(message, in.data(), publicKey.data(), publicKey.size(), 16);
            },
            [this] { return CPVCodec::SFRSADecrypt(in.data(), out.data(), privateKey.data(), privateKey.size(), 128); },
            [](int r) { return r < 0; }, [this] { return out; });
        calls.push_back({"GenerateRSADocuKey", [this] { out.assign(32, 0); },
                         [this] { return CPVCodec::GenerateRSADocuKey(out.data(), 32); },
                         [this](int r) -> std::string {
                             const bool filled = out != Bytes(32, 0);
                             return (r == 0 && filled) || (r < 0 && !filled) ? "" : "answered " + std::to_string(r);
                         }});
        calls.push_back({"CheckRSAKey", [] {}, [this] {
            return CPVCodec::CheckRSAKey(publicKey.data(), publicKey.size(), privateKey.data(), privateKey.size());
        }, [](int r) { return r <= 0 ? "" : "answered " + std::to_string(r); }});
        // The refused instance interface.
        calls.push_back({"CPVCodec_BlockEncrypt", [] {}, [] {
                             CPVCodec codec;
                             char buffer[16] = {};
                             return codec.BlockEncrypt(buffer, 16, buffer);
                         }, [](int r) { return r == -1 ? "" : "answered " + std::to_string(r); }});
    }
};

constexpr size_t kCallCount = 33;
constexpr size_t kLimit = 5000;

class EveryAllocationFails : public testing::TestWithParam<size_t> {};

TEST_P(EveryAllocationFails, TheCallEndsWithItsResultOrItsFailure)
{
    static Calls all;
    ASSERT_EQ(all.calls.size(), kCallCount);
    const ExportedCall& c = all.calls[GetParam()];
    SCOPED_TRACE(c.name);
    plat::fault::Scope seam;
    plat::fault::UseVirtualClock(true);  // retries wait without waiting
    size_t nth = 1;
    for (bool failed = true; failed && nth < kLimit; ++nth) {
        c.prepare();
        t_count = 0;
        t_failFrom = nth;
        t_failed = false;
        t_armed = true;
        int result = 0;
        bool escaped = false;
        try {
            result = c.call();
        } catch (...) {
            escaped = true;
        }
        t_armed = false;
        failed = t_failed;  // else the call got through without its nth allocation
        ASSERT_FALSE(escaped) << "an exception escaped with allocations failing from number " << nth;
        ASSERT_EQ(c.judge(result), "") << "allocations failing from number " << nth;
    }
    EXPECT_LT(nth, kLimit);
}

INSTANTIATE_TEST_SUITE_P(ExportedFunctions, EveryAllocationFails, testing::Range<size_t>(0, kCallCount));

#ifndef _WIN32  // RLIMIT_FSIZE
// A write behind that fails while no memory is left to tell the failure: nothing escapes the write, the
// bytes that reached the file count, and the Write answering past them runs out of memory as it would have.
TEST(WriteBehind, KeepsAFailureItHadNoMemoryToTell)
{
    TempDir dir;
    const std::string path = dir / "behind";
    plat::CFile file(HostPath(path).c_str(), plat::CFile::modeCreate | plat::CFile::modeReadWrite);
    const std::vector<char> bytes(4096, 'b');
    {
        FileSizeLimit limit(1000);
        t_count = 0;
        t_failFrom = 1;
        t_armed = true;
        file.WriteBehind(bytes);
        file.WriteBehind(bytes);  // nothing more after a failure
        t_armed = false;
    }
    EXPECT_NO_THROW(file.AnswerWrite(1000));
    EXPECT_THROW(file.AnswerWrite(1), std::bad_alloc);
    file.Close();
    EXPECT_EQ(containerfiles::FileBytes(path), Bytes(1000, 'b'));
}
#endif

}  // namespace
