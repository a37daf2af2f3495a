// One file operation of the library, timed, for bench/file_bench.sh: a host
// process that calls the operation once and reports its wall time and how
// far the call raised the process's peak resident memory.
//
//   pvcodec_file_bench <operation> <source> <destination>
//
// Operations: DoEncryptFile, EncryptFile2 (a 16-byte header, default form),
// DecryptFileW, DecryptFile2 (a container with that header: the body starts
// at offset 30). Prints one line:
//   result=<r> wall_ms=<t> peak_kib=<p> baseline_kib=<b> faults=<f>
// where t is the wall time of the call alone (steady clock), b the process's
// peak resident size (getrusage ru_maxrss) just before the call, p how far
// the call raised it, and f the page faults the call took (minor and major).
// Exit status 0 only when the operation returned 1.
#include "PVCodec.h"
#include "platform/WideString.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

char kKey[16] = {'f', 'i', 'l', 'e', '-', 'b', 'e', 'n', 'c', 'h', '-', 'k', 'e', 'y', '!', '?'};
char kHeader[16] = {'f', 'i', 'l', 'e', ' ', 'b', 'e', 'n', 'c', 'h', ' ', 'h', 'e', 'a', 'd', '.'};
constexpr int kBodyOffset = 14 + static_cast<int>(sizeof kHeader);

rusage SelfUsage()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage;
}

int ShowUsage()
{
    std::fprintf(stderr,
                 "usage: pvcodec_file_bench DoEncryptFile|EncryptFile2|DecryptFileW|DecryptFile2 SOURCE DESTINATION\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return ShowUsage();
    const std::string operation = argv[1];
    const std::u16string source = plat::Utf8ToUtf16(argv[2]);
    const std::u16string destination = plat::Utf8ToUtf16(argv[3]);
    const PVWCHAR* src = source.c_str();
    const PVWCHAR* dst = destination.c_str();

    int (*call)(const PVWCHAR*, const PVWCHAR*) = nullptr;
    if (operation == "DoEncryptFile")
        call = [](const PVWCHAR* s, const PVWCHAR* d) {
            return CPVCodec::DoEncryptFile(s, d, kKey, kHeader, sizeof kHeader, nullptr, 0, nullptr);
        };
    else if (operation == "EncryptFile2")
        call = [](const PVWCHAR* s, const PVWCHAR* d) {
            return CPVCodec::EncryptFile2(s, d, kKey, kHeader, sizeof kHeader, nullptr);
        };
    else if (operation == "DecryptFileW")
        call = [](const PVWCHAR* s, const PVWCHAR* d) {
            return CPVCodec::DecryptFileW(s, d, kKey, nullptr, kBodyOffset);
        };
    else if (operation == "DecryptFile2")
        call = [](const PVWCHAR* s, const PVWCHAR* d) {
            return CPVCodec::DecryptFile2(s, d, kKey, nullptr, kBodyOffset);
        };
    else
        return ShowUsage();

    const rusage before = SelfUsage();
    const auto start = std::chrono::steady_clock::now();
    const int result = call(src, dst);
    const auto stop = std::chrono::steady_clock::now();
    const rusage after = SelfUsage();

    const double ms = std::chrono::duration<double, std::milli>(stop - start).count();
    const long faults = (after.ru_minflt - before.ru_minflt) + (after.ru_majflt - before.ru_majflt);
    std::printf("result=%d wall_ms=%.2f peak_kib=%ld baseline_kib=%ld faults=%ld\n", result, ms,
                after.ru_maxrss - before.ru_maxrss, before.ru_maxrss, faults);
    return result == 1 ? 0 : 1;
}
