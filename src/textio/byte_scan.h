// Finding one of two byte values in a short run, such as one line, many bytes at a
// time and without a library call per run.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace byte_scan {

constexpr std::size_t WORD = sizeof(std::uint64_t);
constexpr std::uint64_t LOW7 = 0x7F7F7F7F7F7F7F7F;

// 0x80 in exactly those bytes of `word` that are zero.
constexpr std::uint64_t zero_bytes(std::uint64_t word) { return ~(((word & LOW7) + LOW7) | word | LOW7); }

constexpr std::uint64_t repeated(unsigned char byte) { return 0x0101010101010101 * byte; }

// The index in memory order of the first byte marked in `hits`.
constexpr std::size_t first_marked(std::uint64_t hits) {
    static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
    const int bit = std::endian::native == std::endian::little ? std::countr_zero(hits) : std::countl_zero(hits);
    return static_cast<std::size_t>(bit) / 8;
}

}  // namespace byte_scan

namespace byte_scan {

// find_either eight bytes at a time, for any processor.
inline std::size_t find_either_in_words(const unsigned char* data, std::size_t size, unsigned char a, unsigned char b) {
    if (size < WORD) {
        for (std::size_t at = 0; at < size; ++at)
            if (data[at] == a || data[at] == b) return at;
        return size;
    }
    for (std::size_t at = 0;; at += WORD) {
        // The last word is the run's last eight bytes; those it shares with the word
        // before hold neither value, so a hit is always a new byte.
        if (at + WORD > size) at = size - WORD;
        std::uint64_t word;
        std::memcpy(&word, data + at, WORD);
        const std::uint64_t hits = zero_bytes(word ^ repeated(a)) | zero_bytes(word ^ repeated(b));
        if (hits != 0) return at + first_marked(hits);
        if (at + WORD == size) return size;
    }
}

}  // namespace byte_scan

// The index of the first byte in data[0, size) that is `a` or `b`, or `size`. Reads no
// byte outside the run.
inline std::size_t find_either(const unsigned char* data, std::size_t size, unsigned char a, unsigned char b) {
#ifdef __SSE2__
    // Sixteen bytes a compare where the processor has them, as every x86-64 does.
    if (size >= 16) {
        const __m128i want_a = _mm_set1_epi8(static_cast<char>(a));
        const __m128i want_b = _mm_set1_epi8(static_cast<char>(b));
        for (std::size_t at = 0;; at += 16) {
            // As with words, the last block is the run's last sixteen bytes.
            if (at + 16 > size) at = size - 16;
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            const int hits =
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, want_a), _mm_cmpeq_epi8(block, want_b)));
            if (hits != 0) return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(hits)));
            if (at + 16 == size) return size;
        }
    }
#endif
    return byte_scan::find_either_in_words(data, size, a, b);
}

// The index of the first `byte` in data[0, size), or `size`.
inline std::size_t find_byte(const unsigned char* data, std::size_t size, unsigned char byte) {
    return find_either(data, size, byte, byte);
}
