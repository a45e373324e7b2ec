// Bytes as hexadecimal text and back: how digests, chunk and object ids, keys and signatures are
// written in lists, store names and key files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// Two lower-case hexadecimal digits a byte.
std::string ToHex(const uint8_t* bytes, size_t count);

// The bytes of exactly 2 * count hexadecimal digits (either case); false for any other text, bytes
// then undefined.
bool FromHex(const std::string& text, uint8_t* bytes, size_t count);

template <size_t N> std::optional<std::array<uint8_t, N>> FromHex(const std::string& text) {
    std::array<uint8_t, N> bytes{};
    if (!FromHex(text, bytes.data(), N)) return std::nullopt;
    return bytes;
}
