// MD5 (RFC 1321) and the file digests that decide whether a game file is current.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct TMD5Digest {
    unsigned char v[16];
};

class TMD5Context {
public:
    TMD5Context() { Init(); }
    ~TMD5Context();
    void Init();
    void Update(const void* data, size_t length);
    // Pads, writes the digest and clears the state.
    void Final(TMD5Digest& digest);

private:
    void Blocks(const unsigned char* data, size_t count);

    uint32_t state_[4];
    uint32_t count_[2]; // message length in bits, low half first
    unsigned char buffer_[64];
};

// The digest of a file's whole contents, read through read-only mapped views. Never fails: a file that
// cannot be read (missing, locked, empty) gives the digest of empty input.
// onRead, when given, is told the bytes read so far after each piece.
void DigestFile(const std::string& path, TMD5Digest& digest, const std::function<void(int64_t)>& onRead = {});

// 32 lower-case hexadecimal digits.
std::string DigestToHex(const TMD5Digest& digest);

// Whether two digests in hexadecimal are the same value, whatever the case of their letters. (The check
// pass alone compares a local file's digest with the list's exactly, as the launcher always has.)
bool SameDigest(const std::string& a, const std::string& b);
