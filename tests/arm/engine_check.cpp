// Differential check of the ARMv8 Crypto Extensions engine against the table
// engine, for a cross-compiled build run under an emulator (there is no ARM
// machine in the build farm). Built from the codec's engine sources alone by
// scripts/arm_check.sh; the x86 engines are covered by the unit tests.
//
// Every mode (ECB, CBC, 1-bit CFB), key length, direction and block or pad
// operation over random keys, IVs and lengths, in place and apart, and the
// side-by-side CBC chains: both engines must give the same result code and
// the same bytes. Ends with the line "N passed, M failed".
#include "codec/Rjdl.h"
#include "codec/RjdlEngine.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Random {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    void Fill(uint8_t* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i)
            p[i] = static_cast<uint8_t>(Next());
    }
};

int passed = 0;
int failed = 0;

void Expect(bool same, const char* what, int mode, int keyCode, size_t length)
{
    if (same) {
        ++passed;
        return;
    }
    ++failed;
    if (failed <= 20)
        std::printf("MISMATCH %s mode=%d key=%d length=%zu\n", what, mode, keyCode, length);
}

struct Outcome {
    int result = 0;
    std::vector<uint8_t> bytes;
};

// One operation on one engine: 0 block encrypt, 1 block decrypt, 2 pad
// encrypt, 3 pad decrypt.
Outcome Run(rjdl::Engine engine, int operation, int mode, int keyCode, const uint8_t* key, const uint8_t* iv,
            const std::vector<uint8_t>& input, bool inPlace)
{
    rjdl::ScopedEngine scope(engine);
    RjdlState state{};
    const int direction = operation % 2 == 0 ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT;
    Outcome out;
    out.result = RjdlInit(&state, mode, direction, key, keyCode, iv);
    if (out.result < 0)
        return out;
    out.bytes = input;
    out.bytes.resize(input.size() + 32, 0xA5);
    const uint8_t* in = inPlace ? out.bytes.data() : input.data();
    const auto length = static_cast<int32_t>(input.size());
    switch (operation) {
    case 0: out.result = RjdlBlockEncrypt(&state, in, length * 8, out.bytes.data()); break;
    case 1: out.result = RjdlBlockDecrypt(&state, in, length * 8, out.bytes.data()); break;
    case 2: out.result = RjdlPadEncrypt(&state, in, length, out.bytes.data()); break;
    default: out.result = RjdlPadDecrypt(&state, in, length, out.bytes.data()); break;
    }
    return out;
}

}  // namespace

int main()
{
    if (!rjdl::EngineAvailable(rjdl::Engine::ArmCe)) {
        std::printf("the ARMv8 engine is not available on this processor\n0 passed, 1 failed\n");
        return 1;
    }
    Random random;
    const int modes[] = {RJDL_MODE_ECB, RJDL_MODE_CBC, RJDL_MODE_CFB1};
    const int keyCodes[] = {RJDL_KEY_128, RJDL_KEY_192, RJDL_KEY_256};
    for (int round = 0; round < 40; ++round) {
        for (int mode : modes) {
            for (int keyCode : keyCodes) {
                uint8_t key[32];
                uint8_t iv[16];
                random.Fill(key, sizeof key);
                random.Fill(iv, sizeof iv);
                // Whole blocks mostly; pad decryption also meets bad padding.
                const size_t blocks = random.Next() % 70;
                std::vector<uint8_t> input(blocks * 16 + (round % 4 == 3 ? random.Next() % 16 : 0));
                random.Fill(input.data(), input.size());
                for (int operation = 0; operation < 4; ++operation) {
                    std::vector<uint8_t> data = input;
                    if (operation == 3) {  // a real padded text most of the time
                        auto sealed = Run(rjdl::Engine::Table, 2, mode, keyCode, key, iv, input, false);
                        if (sealed.result > 0 && round % 5 != 0)
                            data.assign(sealed.bytes.begin(), sealed.bytes.begin() + sealed.result);
                    }
                    for (bool inPlace : {false, true}) {
                        const Outcome want = Run(rjdl::Engine::Table, operation, mode, keyCode, key, iv, data, inPlace);
                        const Outcome got = Run(rjdl::Engine::ArmCe, operation, mode, keyCode, key, iv, data, inPlace);
                        Expect(want.result == got.result && want.bytes == got.bytes, "operation", mode, keyCode,
                               data.size());
                    }
                }
            }
        }
    }

    // Independent CBC chains side by side, as the container drivers use them.
    for (int round = 0; round < 30; ++round) {
        for (int keyCode : keyCodes) {
            uint8_t key[32];
            random.Fill(key, sizeof key);
            const size_t chains = 1 + random.Next() % 40;
            const size_t blocks = 1 + random.Next() % 64;
            std::vector<uint8_t> input(chains * blocks * 16);
            random.Fill(input.data(), input.size());
            for (int direction : {RJDL_DIR_ENCRYPT, RJDL_DIR_DECRYPT}) {
                std::vector<uint8_t> want(input.size()), got(input.size());
                for (rjdl::Engine engine : {rjdl::Engine::Table, rjdl::Engine::ArmCe}) {
                    rjdl::ScopedEngine scope(engine);
                    RjdlState state{};
                    RjdlInit(&state, RJDL_MODE_CBC, direction, key, keyCode, nullptr);
                    const rjdl::EngineOps& ops = rjdl::OpsOf(engine);
                    std::vector<uint8_t>& out = engine == rjdl::Engine::Table ? want : got;
                    if (direction == RJDL_DIR_ENCRYPT)
                        ops.encryptCbcChains(state, input.data(), out.data(), chains, blocks);
                    else
                        ops.decryptCbcChains(state, input.data(), out.data(), chains, blocks);
                }
                Expect(want == got, "chains", RJDL_MODE_CBC, keyCode, input.size());
            }
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
