// The ARMv8 engine = the table engine (scripts/arm_check.sh, under an emulator): every mode, key,
// operation and the CBC chains over random data, in place and apart. Ends with "N passed, M failed".
#include "codec/Rjdl.h"
#include "codec/RjdlEngine.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
std::mt19937 g_random(20240612u);

Bytes Random(size_t n)
{
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<uint8_t>(g_random());
    return b;
}

// Operation: block, pad, CBC chains (`chains` equal ones), encrypt even, decrypt odd: result, output.
std::pair<int, Bytes> Run(rjdl::Engine engine, int operation, int mode, int keyCode, const Bytes& key, const Bytes& iv,
          const Bytes& input, bool inPlace, size_t chains)
{
    rjdl::ScopedEngine scope(engine);
    RjdlState state{};
    int result = RjdlInit(&state, mode, operation % 2 == 0 ? RJDL_DIR_ENCRYPT : RJDL_DIR_DECRYPT, key.data(),
                          keyCode, iv.data());
    Bytes out = input;
    out.resize(input.size() + 32, 0xA5);
    const uint8_t* in = inPlace ? out.data() : input.data();
    const auto length = static_cast<int32_t>(input.size());
    const rjdl::EngineOps& ops = rjdl::OpsOf(engine);
    if (result == 0) {
        switch (operation) {
        case 0: result = RjdlBlockEncrypt(&state, in, length * 8, out.data()); break;
        case 1: result = RjdlBlockDecrypt(&state, in, length * 8, out.data()); break;
        case 2: result = RjdlPadEncrypt(&state, in, length, out.data()); break;
        case 3: result = RjdlPadDecrypt(&state, in, length, out.data()); break;
        case 4: ops.encryptCbcChains(state, in, out.data(), chains, input.size() / 16 / chains); break;
        default: ops.decryptCbcChains(state, in, out.data(), chains, input.size() / 16 / chains); break;
        }
    }
    return {result, out};
}

}  // namespace

int main()
{
    if (!rjdl::EngineAvailable(rjdl::Engine::ArmCe)) {
        std::printf("the ARMv8 engine is not available on this processor\n0 passed, 1 failed\n");
        return 1;
    }
    int passed = 0, failed = 0;
    for (int round = 0; round < 40; ++round)
        for (int mode : {RJDL_MODE_ECB, RJDL_MODE_CBC, RJDL_MODE_CFB1})
            for (int keyCode : {RJDL_KEY_128, RJDL_KEY_192, RJDL_KEY_256}) {
                const Bytes key = Random(32), iv = Random(16);
                const size_t chains = 1 + Random(1)[0] % 40, blocks = 1 + Random(1)[0] % 64;
                // Whole blocks mostly; pad decryption also meets bad padding.
                const Bytes input = Random(Random(1)[0] % 70 * 16 + (round % 4 == 3 ? Random(1)[0] % 16 : 0));
                for (int operation = 0; operation < 6; ++operation) {
                    if (operation >= 4 && mode != RJDL_MODE_CBC)
                        continue;
                    Bytes data = operation >= 4 ? Random(chains * blocks * 16) : input;
                    if (operation == 3 && round % 5 != 0) {  // a real padded text most of the time
                        const auto [n, sealed] = Run(rjdl::Engine::Table, 2, mode, keyCode, key, iv, input, false, 1);
                        if (n > 0)
                            data.assign(sealed.begin(), sealed.begin() + n);
                    }
                    for (bool inPlace : {false, true}) {
                        const bool same = Run(rjdl::Engine::Table, operation, mode, keyCode, key, iv, data, inPlace,
                                              chains) ==
                                          Run(rjdl::Engine::ArmCe, operation, mode, keyCode, key, iv, data, inPlace,
                                              chains);
                        same ? ++passed : ++failed;
                        if (!same && failed <= 20)
                            std::printf("MISMATCH operation=%d mode=%d key=%d length=%zu\n", operation, mode,
                                        keyCode, data.size());
                    }
                }
            }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
