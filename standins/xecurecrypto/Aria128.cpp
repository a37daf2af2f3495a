#include "Aria128.h"

#include "GaloisField.h"

#include <cstring>

namespace aria {
namespace {

// The field modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t Power(uint8_t a, int e)
{
    return gf256::Power<0x11b>(a, e);
}

// The affine map: column b is the image of bit b.
constexpr uint8_t Affine(const std::array<uint8_t, 8>& columns, uint8_t v, uint8_t constant)
{
    uint8_t r = constant;
    for (int b = 0; b < 8; ++b)
        if (v >> b & 1)
            r ^= columns[b];
    return r;
}

// SB1(x) = A * x^254 + 0x63 (the AES S-box), SB2(x) = B * x^247 + 0xe2.
constexpr std::array<uint8_t, 8> kA = {0x1f, 0x3e, 0x7c, 0xf8, 0xf1, 0xe3, 0xc7, 0x8f};
constexpr std::array<uint8_t, 8> kB = {0xac, 0xc5, 0x12, 0xcf, 0x5b, 0x5f, 0x85, 0xee};

using Box = std::array<uint8_t, 256>;

constexpr Box MakeBox(const std::array<uint8_t, 8>& columns, int exponent, uint8_t constant)
{
    Box box{};
    for (int x = 0; x < 256; ++x)
        box[x] = Affine(columns, Power(static_cast<uint8_t>(x), exponent), constant);
    return box;
}

constexpr Box Inverse(const Box& box)
{
    Box inverse{};
    for (int x = 0; x < 256; ++x)
        inverse[box[x]] = static_cast<uint8_t>(x);
    return inverse;
}

constexpr Box kSB1 = MakeBox(kA, 254, 0x63);
constexpr Box kSB2 = MakeBox(kB, 247, 0xe2);
constexpr Box kSB3 = Inverse(kSB1);
constexpr Box kSB4 = Inverse(kSB2);

// Odd rounds substitute with SB1, SB2, SB3, SB4 over each group of four
// bytes, even rounds and the last with SB3, SB4, SB1, SB2.
constexpr const Box* kOdd[4] = {&kSB1, &kSB2, &kSB3, &kSB4};
constexpr const Box* kEven[4] = {&kSB3, &kSB4, &kSB1, &kSB2};

// The diffusion layer, an involution: output byte i is the XOR of these
// seven input bytes.
constexpr uint8_t kDiffusion[16][7] = {
    {3, 4, 6, 8, 9, 13, 14},    {2, 5, 7, 8, 9, 12, 15},   {1, 4, 6, 10, 11, 12, 15}, {0, 5, 7, 10, 11, 13, 14},
    {0, 2, 5, 8, 11, 14, 15},   {1, 3, 4, 9, 10, 14, 15},  {0, 2, 7, 9, 10, 12, 13},  {1, 3, 6, 8, 11, 12, 13},
    {0, 1, 4, 7, 10, 13, 15},   {0, 1, 5, 6, 11, 12, 14},  {2, 3, 5, 6, 8, 13, 15},   {2, 3, 4, 7, 9, 12, 14},
    {1, 2, 6, 7, 9, 11, 12},    {0, 3, 6, 7, 8, 10, 13},   {0, 3, 4, 5, 9, 11, 14},   {1, 2, 4, 5, 8, 10, 15},
};

// The key schedule's constants: the fractional part of 1/pi.
constexpr Block kC1 = {0x51, 0x7c, 0xc1, 0xb7, 0x27, 0x22, 0x0a, 0x94,
                       0xfe, 0x13, 0xab, 0xe8, 0xfa, 0x9a, 0x6e, 0xe0};
constexpr Block kC2 = {0x6d, 0xb1, 0x4a, 0xcc, 0x9e, 0x21, 0xc8, 0x20,
                       0xff, 0x28, 0xb1, 0xd5, 0xef, 0x5d, 0xe2, 0xb0};
constexpr Block kC3 = {0xdb, 0x92, 0x37, 0x1d, 0x21, 0x26, 0xe9, 0x70,
                       0x03, 0x24, 0x97, 0x75, 0x04, 0xe8, 0xc9, 0x0e};

Block Xor(const Block& a, const Block& b)
{
    Block r;
    for (int i = 0; i < kBlockSize; ++i)
        r[i] = a[i] ^ b[i];
    return r;
}

Block Substitute(const Block& x, const Box* const (&boxes)[4])
{
    Block r;
    for (int i = 0; i < kBlockSize; ++i)
        r[i] = (*boxes[i % 4])[x[i]];
    return r;
}

Block Diffuse(const Block& x)
{
    Block r;
    for (int i = 0; i < kBlockSize; ++i) {
        uint8_t v = 0;
        for (uint8_t j : kDiffusion[i])
            v ^= x[j];
        r[i] = v;
    }
    return r;
}

Block OddRound(const Block& d, const Block& key)
{
    return Diffuse(Substitute(Xor(d, key), kOdd));
}

Block EvenRound(const Block& d, const Block& key)
{
    return Diffuse(Substitute(Xor(d, key), kEven));
}

// The block as a 128-bit big-endian number, rotated right by `n` bits.
Block RotateRight(const Block& x, int n)
{
    Block r;
    const int bytes = n / 8, bits = n % 8;
    for (int i = 0; i < kBlockSize; ++i) {
        const unsigned high = x[(i - bytes + kBlockSize) % kBlockSize];
        const unsigned low = x[(i - bytes - 1 + 2 * kBlockSize) % kBlockSize];
        r[i] = static_cast<uint8_t>((high >> bits | low << (8 - bits)) & 0xff);
    }
    return r;
}

}  // namespace

void ExpandEncryptionKey(const uint8_t key[kKeySize], KeySchedule& schedule)
{
    Block w[4];
    std::memcpy(w[0].data(), key, kKeySize);
    w[1] = OddRound(w[0], kC1);  // the right half of a 128-bit key is zero
    w[2] = Xor(EvenRound(w[1], kC2), w[0]);
    w[3] = Xor(OddRound(w[2], kC3), w[1]);
    // Rotations right by 19, 31, 128 - 61 and 128 - 31 bits.
    constexpr int kShifts[4] = {19, 31, 67, 97};
    for (int i = 0; i <= kRounds; ++i)
        schedule.round[i] = Xor(w[i % 4], RotateRight(w[(i + 1) % 4], kShifts[i / 4]));
    for (Block& b : w)
        b.fill(0);
}

void ExpandDecryptionKey(const uint8_t key[kKeySize], KeySchedule& schedule)
{
    KeySchedule forward;
    ExpandEncryptionKey(key, forward);
    schedule.round[0] = forward.round[kRounds];
    for (int i = 1; i < kRounds; ++i)
        schedule.round[i] = Diffuse(forward.round[kRounds - i]);
    schedule.round[kRounds] = forward.round[0];
    for (Block& b : forward.round)
        b.fill(0);
}

void ProcessBlock(const KeySchedule& schedule, const uint8_t in[kBlockSize], uint8_t out[kBlockSize])
{
    Block state;
    std::memcpy(state.data(), in, kBlockSize);
    for (int i = 0; i < kRounds - 1; ++i)
        state = i % 2 == 0 ? OddRound(state, schedule.round[i]) : EvenRound(state, schedule.round[i]);
    state = Xor(Substitute(Xor(state, schedule.round[kRounds - 1]), kEven), schedule.round[kRounds]);
    std::memcpy(out, state.data(), kBlockSize);
}

}  // namespace aria
