// The static raw functions share nothing between calls: run on several
// threads at once they give exactly the results of a serial run.
#include "PVCodec.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>
#include <vector>

namespace {

struct Job {
    std::vector<char> key, data;
};

// All eight functions over one job; results and outputs concatenated.
std::vector<char> RunAll(Job& job)
{
    const int n = static_cast<int>(job.data.size());
    const auto un = static_cast<unsigned int>(n);
    std::vector<char> result;
    std::vector<char> out(job.data.size() + 16), back(job.data.size() + 16);
    auto record = [&](int code, const std::vector<char>& buf) {
        result.insert(result.end(), reinterpret_cast<char*>(&code), reinterpret_cast<char*>(&code) + sizeof code);
        if (code > 0)
            result.insert(result.end(), buf.begin(), buf.begin() + code);
    };
    char* in = job.data.data();
    char* key = job.key.data();
    record(CPVCodec::SFMemoryBlockEncrypt16Ex(in, out.data(), key, un, 0), out);
    record(CPVCodec::SFMemoryBlockDecrypt16Ex(in, out.data(), key, un, 0), out);
    record(CPVCodec::SFMemoryBlockEncrypt16(in, out.data(), key, un), out);
    record(CPVCodec::SFMemoryBlockDecrypt16(in, out.data(), key, un), out);
    int padded = CPVCodec::SFPadEncryptEx(in, out.data(), key, n, 0);
    record(padded, out);
    record(CPVCodec::SFPadDecryptEx(out.data(), back.data(), key, padded, 0), back);
    padded = CPVCodec::SFPadEncrypt(in, out.data(), key, n);
    record(padded, out);
    record(CPVCodec::SFPadDecrypt(out.data(), back.data(), key, padded), back);
    return result;
}

TEST(RawBufferThreads, ConcurrentCallsGiveSerialResults)
{
    // The sandbox is set up before the threads start and not changed while
    // they run; the settings forms read its empty hives.
    RegistrySandbox registry;
    std::mt19937 rng(99);
    std::vector<Job> jobs(64);
    for (auto& job : jobs) {
        job.key.resize(16);
        job.data.resize(rng() % 2048);
        for (auto& b : job.key)
            b = static_cast<char>(rng());
        for (auto& b : job.data)
            b = static_cast<char>(rng());
    }
    std::vector<std::vector<char>> serial;
    for (auto& job : jobs)
        serial.push_back(RunAll(job));

    constexpr int kThreads = 4;
    std::vector<std::vector<std::vector<char>>> parallel(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Each thread walks the jobs from a different start, on its own copies.
            for (size_t i = 0; i < jobs.size(); ++i) {
                Job job = jobs[(i + static_cast<size_t>(t) * 16) % jobs.size()];
                parallel[t].push_back(RunAll(job));
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        for (size_t i = 0; i < jobs.size(); ++i)
            ASSERT_EQ(parallel[t][i], serial[(i + static_cast<size_t>(t) * 16) % jobs.size()]) << t << " " << i;
}

}  // namespace
