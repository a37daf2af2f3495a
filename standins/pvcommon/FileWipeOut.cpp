#include "PVCommon.h"

#include "platform/FaultInjection.h"
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/PathText.h"

#include "SystemServices.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <vector>

using namespace plat;

namespace {

constexpr UINT kChunk = 1024 * 1024;

// The bytes written over a file: xoshiro256** from a seed of the system's
// generator. Nothing is kept secret by them (they only have to bury what was
// there, unlike each time), and they come at memory speed where the system
// generator would take several times as long as the writes.
class Noise {
public:
    bool Seed()
    {
        if (!os::SystemRandom(state_.data(), sizeof state_))
            return false;
        return std::any_of(state_.begin(), state_.end(), [](uint64_t word) { return word != 0; });
    }

    void Fill(unsigned char* out, size_t n)
    {
        for (; n >= 8; out += 8, n -= 8) {
            const uint64_t word = Next();
            std::memcpy(out, &word, 8);
        }
        if (n > 0) {
            const uint64_t word = Next();
            std::memcpy(out, &word, n);
        }
    }

private:
    uint64_t Next()
    {
        const uint64_t result = std::rotl(state_[1] * 5, 7) * 9;
        const uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = std::rotl(state_[3], 45);
        return result;
    }

    std::array<uint64_t, 4> state_{};
};

enum class Kind { none, link, file, other };

// What lies under the path, without following a symbolic link.
Kind KindAt(const char16_t* path)
{
#if defined(_WIN32)
    const plat::DWORD attributes = plat::GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::none;
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return Kind::link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::other : Kind::file;
#else
    auto native = ToNativePath(path);
    struct stat st{};
    if (!native || ::lstat(native->c_str(), &st) != 0)
        return Kind::none;
    return S_ISLNK(st.st_mode) ? Kind::link : S_ISREG(st.st_mode) ? Kind::file : Kind::other;
#endif
}

bool Overwrite(const char16_t* path)
{
    CFile file;
    if (!file.Open(path, CFile::modeReadWrite | CFile::shareExclusive | CFile::typeBinary))
        return false;
    try {
        const ULONGLONG length = file.GetLength();
        Noise source;
        if (!source.Seed())
            return false;
        std::vector<unsigned char> noise(static_cast<size_t>(std::min<ULONGLONG>(kChunk, length)));
        for (ULONGLONG written = 0; written < length;) {
            const UINT n = static_cast<UINT>(std::min<ULONGLONG>(kChunk, length - written));
            source.Fill(noise.data(), n);
            file.Write(noise.data(), n);
            written += n;
        }
        file.Flush();
        HookPoint(hook::kWipeOverwritten);
        file.SetLength(0);
        file.Flush();
        file.Close();
    } catch (const CFileException&) {
        return false;
    }
    return true;
}

// Renames the emptied file to a random name beside it; the new name, or
// empty when it could not be renamed.
std::u16string MoveAside(const char16_t* path)
{
    const std::u16string_view text(path);
    const size_t separator = FindLastSeparator(text);
    const std::u16string folder(separator == std::u16string_view::npos ? u"" : text.substr(0, separator + 1));
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    for (int attempt = 0; attempt < 8; ++attempt) {
        unsigned char bytes[8];
        if (!os::SystemRandom(bytes, sizeof bytes))
            break;
        std::u16string name = folder + u"~WO";
        for (unsigned char b : bytes) {
            name.push_back(kHex[b >> 4]);
            name.push_back(kHex[b & 0xF]);
        }
        name += u".tmp";
        if (MoveFileW(path, name.c_str()))
            return name;
        if (plat::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    return {};
}

int WipeOut(const char16_t* path)
{
    if (path == nullptr)
        return 0;
    if (auto failure = fault::Check(fault::Op::WipeOutFile)) {
        plat::SetLastError(failure->error);
        return 0;
    }
    const Kind kind = KindAt(path);
    if (kind == Kind::link) {
        // The link's target is not this path's content: only the link goes.
        DeleteFileW(path);
        return KindAt(path) == Kind::none ? 1 : 0;
    }
    if (kind != Kind::file || !Overwrite(path))
        return 0;
    const std::u16string aside = MoveAside(path);
    if (!aside.empty())
        HookPoint(hook::kWipeRenamed);
    DeleteFileW(aside.empty() ? path : aside.c_str());
    FlushFolderToDisk(path);
    return KindAt(path) == Kind::none ? 1 : 0;
}

}  // namespace

// A wipe that cannot be finished (even for want of memory) answers 0, as any
// failed wipe does; nothing is thrown to the caller.
int CFileWipeOut::WipeOutFile(const char16_t* path)
{
    try {
        return WipeOut(path);
    } catch (...) {
        return 0;
    }
}
