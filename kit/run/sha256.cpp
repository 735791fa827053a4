// SHA-256 (FIPS 180-4) in plain integers: the message in 64-byte blocks, eight 32-bit
// words of state, the padding with the bit length at the end.
#include "run/sha256.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

#if defined(__x86_64__) && defined(__GNUC__)
#include <cpuid.h>
#include <immintrin.h>
#define DEFECTKIT_SHA_NI 1
#endif

namespace {

constexpr std::array<std::uint32_t, 64> round_constants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

struct Sha256 {
    bool accelerated = false; // the processor's SHA instructions do the blocks
    std::array<std::uint32_t, 8> h = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                      0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint64_t length = 0; // bytes so far
    std::array<unsigned char, 64> block{};
    std::size_t used = 0;
};

inline std::uint32_t rotr(std::uint32_t x, int n) {
    return (x >> n) | (x << (32 - n));
}

void compress(Sha256& s, const unsigned char* p) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i) {
        w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 |
               std::uint32_t{p[4 * i + 2]} << 8 | std::uint32_t{p[4 * i + 3]};
    }
    for (int i = 16; i < 64; ++i) {
        const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::array<std::uint32_t, 8> v = s.h;
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t s1 = rotr(v[4], 6) ^ rotr(v[4], 11) ^ rotr(v[4], 25);
        const std::uint32_t ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        const std::uint32_t t1 = v[7] + s1 + ch + round_constants[i] + w[i];
        const std::uint32_t s0 = rotr(v[0], 2) ^ rotr(v[0], 13) ^ rotr(v[0], 22);
        const std::uint32_t maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        v = {t1 + s0 + maj, v[0], v[1], v[2], v[3] + t1, v[4], v[5], v[6]};
    }
    for (int i = 0; i < 8; ++i) {
        s.h[i] += v[i];
    }
}

#ifdef DEFECTKIT_SHA_NI
bool has_sha_instructions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    const bool sse41 = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSE4_1) != 0;
    return sse41 && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & (1U << 29)) != 0;
}

// The blocks through the SHA extensions: the state kept as ABEF and CDGH, four rounds per
// group, the message schedule of group g + 2 begun (msg1) in group g and ended (msg2) in
// group g + 1, as the instructions' order asks.
__attribute__((target("sha,sse4.1,ssse3"))) void compress_sha_ni(Sha256& s, const unsigned char* p,
                                                                 std::size_t blocks) {
    const __m128i mask = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i tmp =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&s.h[0])), 0xB1);
    __m128i state1 =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(&s.h[4])), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);
    for (; blocks > 0; --blocks, p += 64) {
        const __m128i abef = state0;
        const __m128i cdgh = state1;
        __m128i m[4];
        for (int i = 0; i < 4; ++i) {
            m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i)),
                                    mask);
        }
        for (int g = 0; g < 16; ++g) {
            __m128i& cur = m[g % 4];
            __m128i& next = m[(g + 1) % 4];
            __m128i& prev = m[(g + 3) % 4];
            __m128i msg = _mm_add_epi32(
                cur, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&round_constants[4 * g])));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            if (g >= 3 && g <= 14) {
                next =
                    _mm_sha256msg2_epu32(_mm_add_epi32(next, _mm_alignr_epi8(cur, prev, 4)), cur);
            }
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
            if (g >= 1 && g <= 12) {
                prev = _mm_sha256msg1_epu32(prev, cur);
            }
        }
        state0 = _mm_add_epi32(state0, abef);
        state1 = _mm_add_epi32(state1, cdgh);
    }
    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&s.h[0]), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&s.h[4]), state1);
}
#endif

// Whole blocks, through the processor's instructions when it has them.
void compress_blocks(Sha256& s, const unsigned char* p, std::size_t blocks) {
#ifdef DEFECTKIT_SHA_NI
    if (s.accelerated) {
        compress_sha_ni(s, p, blocks);
        return;
    }
#endif
    for (; blocks > 0; --blocks, p += 64) {
        compress(s, p);
    }
}

void update(Sha256& s, const unsigned char* p, std::size_t n) {
    s.length += n;
    while (n > 0) {
        if (s.used == 0 && n >= 64) {
            const std::size_t blocks = n / 64;
            compress_blocks(s, p, blocks);
            p += 64 * blocks;
            n -= 64 * blocks;
            continue;
        }
        const std::size_t take = std::min(n, 64 - s.used);
        std::memcpy(s.block.data() + s.used, p, take);
        s.used += take;
        p += take;
        n -= take;
        if (s.used == 64) {
            compress_blocks(s, s.block.data(), 1);
            s.used = 0;
        }
    }
}

std::string finish(Sha256& s) {
    const std::uint64_t bits = s.length * 8;
    const unsigned char one = 0x80;
    update(s, &one, 1);
    const unsigned char zero = 0;
    while (s.used != 56) {
        update(s, &zero, 1);
    }
    unsigned char tail[8];
    for (int i = 0; i < 8; ++i) {
        tail[i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    update(s, tail, 8);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (const std::uint32_t word : s.h) {
        for (int shift = 28; shift >= 0; shift -= 4) {
            out += hex[(word >> shift) & 15];
        }
    }
    return out;
}

} // namespace

bool sha256_accelerated() {
#ifdef DEFECTKIT_SHA_NI
    static const bool has = has_sha_instructions();
    return has;
#else
    return false;
#endif
}

std::string sha256_text(const std::string& bytes, bool accelerated) {
    Sha256 s;
    s.accelerated = accelerated && sha256_accelerated();
    update(s, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return finish(s);
}

bool sha256_file(const std::string& path, std::string& digest, std::string& error,
                 const volatile int* stop) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    Sha256 s;
    s.accelerated = sha256_accelerated();
    std::vector<unsigned char> buffer(std::size_t{1} << 20);
    for (;;) {
        if (stop != nullptr && *stop != 0) {
            ::close(fd);
            error.clear();
            return false;
        }
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        update(s, buffer.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    digest = finish(s);
    return true;
}
