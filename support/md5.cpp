#include "support/md5.h"

#include "platform/Platform.h"
#include "platform/Errors.h"
#include "support/Hex.h"

#include <cstring>
#include <vector>

namespace {

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadLE(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// The four rounds. F and G are written in forms with shorter dependency chains: F as z ^ (x & (y ^ z)),
// G as two additions of disjoint bit sets.
#define MD5_F(a, b, c, d, x, s, t) a = b + Rotl(a + (d ^ (b & (c ^ d))) + x + t, s)
#define MD5_G(a, b, c, d, x, s, t) a = b + Rotl(a + (c & ~d) + (b & d) + x + t, s)
#define MD5_H(a, b, c, d, x, s, t) a = b + Rotl(a + (b ^ c ^ d) + x + t, s)
#define MD5_I(a, b, c, d, x, s, t) a = b + Rotl(a + (c ^ (b | ~d)) + x + t, s)

} // namespace

TMD5Context::~TMD5Context() {
    volatile unsigned char* p = reinterpret_cast<volatile unsigned char*>(this);
    for (size_t i = 0; i < sizeof *this; ++i) p[i] = 0;
}

void TMD5Context::Init() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    count_[0] = count_[1] = 0;
}

void TMD5Context::Blocks(const unsigned char* p, size_t count) {
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (; count > 0; --count, p += 64) {
        const uint32_t x0 = LoadLE(p), x1 = LoadLE(p + 4), x2 = LoadLE(p + 8), x3 = LoadLE(p + 12),
                       x4 = LoadLE(p + 16), x5 = LoadLE(p + 20), x6 = LoadLE(p + 24), x7 = LoadLE(p + 28),
                       x8 = LoadLE(p + 32), x9 = LoadLE(p + 36), x10 = LoadLE(p + 40), x11 = LoadLE(p + 44),
                       x12 = LoadLE(p + 48), x13 = LoadLE(p + 52), x14 = LoadLE(p + 56), x15 = LoadLE(p + 60);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_F(a, b, c, d, x0, 7, 0xd76aa478);
        MD5_F(d, a, b, c, x1, 12, 0xe8c7b756);
        MD5_F(c, d, a, b, x2, 17, 0x242070db);
        MD5_F(b, c, d, a, x3, 22, 0xc1bdceee);
        MD5_F(a, b, c, d, x4, 7, 0xf57c0faf);
        MD5_F(d, a, b, c, x5, 12, 0x4787c62a);
        MD5_F(c, d, a, b, x6, 17, 0xa8304613);
        MD5_F(b, c, d, a, x7, 22, 0xfd469501);
        MD5_F(a, b, c, d, x8, 7, 0x698098d8);
        MD5_F(d, a, b, c, x9, 12, 0x8b44f7af);
        MD5_F(c, d, a, b, x10, 17, 0xffff5bb1);
        MD5_F(b, c, d, a, x11, 22, 0x895cd7be);
        MD5_F(a, b, c, d, x12, 7, 0x6b901122);
        MD5_F(d, a, b, c, x13, 12, 0xfd987193);
        MD5_F(c, d, a, b, x14, 17, 0xa679438e);
        MD5_F(b, c, d, a, x15, 22, 0x49b40821);

        MD5_G(a, b, c, d, x1, 5, 0xf61e2562);
        MD5_G(d, a, b, c, x6, 9, 0xc040b340);
        MD5_G(c, d, a, b, x11, 14, 0x265e5a51);
        MD5_G(b, c, d, a, x0, 20, 0xe9b6c7aa);
        MD5_G(a, b, c, d, x5, 5, 0xd62f105d);
        MD5_G(d, a, b, c, x10, 9, 0x02441453);
        MD5_G(c, d, a, b, x15, 14, 0xd8a1e681);
        MD5_G(b, c, d, a, x4, 20, 0xe7d3fbc8);
        MD5_G(a, b, c, d, x9, 5, 0x21e1cde6);
        MD5_G(d, a, b, c, x14, 9, 0xc33707d6);
        MD5_G(c, d, a, b, x3, 14, 0xf4d50d87);
        MD5_G(b, c, d, a, x8, 20, 0x455a14ed);
        MD5_G(a, b, c, d, x13, 5, 0xa9e3e905);
        MD5_G(d, a, b, c, x2, 9, 0xfcefa3f8);
        MD5_G(c, d, a, b, x7, 14, 0x676f02d9);
        MD5_G(b, c, d, a, x12, 20, 0x8d2a4c8a);

        MD5_H(a, b, c, d, x5, 4, 0xfffa3942);
        MD5_H(d, a, b, c, x8, 11, 0x8771f681);
        MD5_H(c, d, a, b, x11, 16, 0x6d9d6122);
        MD5_H(b, c, d, a, x14, 23, 0xfde5380c);
        MD5_H(a, b, c, d, x1, 4, 0xa4beea44);
        MD5_H(d, a, b, c, x4, 11, 0x4bdecfa9);
        MD5_H(c, d, a, b, x7, 16, 0xf6bb4b60);
        MD5_H(b, c, d, a, x10, 23, 0xbebfbc70);
        MD5_H(a, b, c, d, x13, 4, 0x289b7ec6);
        MD5_H(d, a, b, c, x0, 11, 0xeaa127fa);
        MD5_H(c, d, a, b, x3, 16, 0xd4ef3085);
        MD5_H(b, c, d, a, x6, 23, 0x04881d05);
        MD5_H(a, b, c, d, x9, 4, 0xd9d4d039);
        MD5_H(d, a, b, c, x12, 11, 0xe6db99e5);
        MD5_H(c, d, a, b, x15, 16, 0x1fa27cf8);
        MD5_H(b, c, d, a, x2, 23, 0xc4ac5665);

        MD5_I(a, b, c, d, x0, 6, 0xf4292244);
        MD5_I(d, a, b, c, x7, 10, 0x432aff97);
        MD5_I(c, d, a, b, x14, 15, 0xab9423a7);
        MD5_I(b, c, d, a, x5, 21, 0xfc93a039);
        MD5_I(a, b, c, d, x12, 6, 0x655b59c3);
        MD5_I(d, a, b, c, x3, 10, 0x8f0ccc92);
        MD5_I(c, d, a, b, x10, 15, 0xffeff47d);
        MD5_I(b, c, d, a, x1, 21, 0x85845dd1);
        MD5_I(a, b, c, d, x8, 6, 0x6fa87e4f);
        MD5_I(d, a, b, c, x15, 10, 0xfe2ce6e0);
        MD5_I(c, d, a, b, x6, 15, 0xa3014314);
        MD5_I(b, c, d, a, x13, 21, 0x4e0811a1);
        MD5_I(a, b, c, d, x4, 6, 0xf7537e82);
        MD5_I(d, a, b, c, x11, 10, 0xbd3af235);
        MD5_I(c, d, a, b, x2, 15, 0x2ad7d2bb);
        MD5_I(b, c, d, a, x9, 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state_[0] = a;
    state_[1] = b;
    state_[2] = c;
    state_[3] = d;
}

void TMD5Context::Update(const void* data, size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    size_t used = (count_[0] >> 3) & 63;
    uint64_t bits = (static_cast<uint64_t>(count_[1]) << 32 | count_[0]) + static_cast<uint64_t>(length) * 8;
    count_[0] = static_cast<uint32_t>(bits);
    count_[1] = static_cast<uint32_t>(bits >> 32);

    if (used != 0) {
        size_t take = 64 - used;
        if (length < take) {
            std::memcpy(buffer_ + used, p, length);
            return;
        }
        std::memcpy(buffer_ + used, p, take);
        Blocks(buffer_, 1);
        p += take;
        length -= take;
    }
    Blocks(p, length / 64);
    p += length & ~size_t(63);
    std::memcpy(buffer_, p, length & 63);
}

void TMD5Context::Final(TMD5Digest& digest) {
    unsigned char lengthBytes[8];
    for (int i = 0; i < 4; ++i) {
        lengthBytes[i] = static_cast<unsigned char>(count_[0] >> (8 * i));
        lengthBytes[4 + i] = static_cast<unsigned char>(count_[1] >> (8 * i));
    }
    static const unsigned char padding[64] = {0x80};
    size_t used = (count_[0] >> 3) & 63;
    Update(padding, used < 56 ? 56 - used : 120 - used);
    Update(lengthBytes, 8);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) digest.v[4 * i + j] = static_cast<unsigned char>(state_[i] >> (8 * j));
    volatile unsigned char* s = reinterpret_cast<volatile unsigned char*>(this);
    for (size_t i = 0; i < sizeof *this; ++i) s[i] = 0;
}

void DigestFile(const std::string& path, TMD5Digest& digest, const std::function<void(int64_t)>& onRead) {
    TMD5Context context;
    int64_t done = 0;
    const bool read = platform::ReadWholeFile(path, [&](const unsigned char* bytes, size_t length) {
        context.Update(bytes, length);
        done += static_cast<int64_t>(length);
        if (onRead) onRead(done);
    });
    if (!read) context.Init(); // an unreadable file has the digest of empty input
    context.Final(digest);
}

std::string DigestToHex(const TMD5Digest& digest) { return ToHex(digest.v, sizeof digest.v); }

bool SameDigest(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
