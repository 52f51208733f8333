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

// 0x80 in those of the eight bytes at `data` that are `a` or `b`.
inline std::uint64_t word_hits(const unsigned char* data, unsigned char a, unsigned char b) {
    std::uint64_t word;
    std::memcpy(&word, data, sizeof word);
    return zero_bytes(word ^ repeated(a)) | zero_bytes(word ^ repeated(b));
}

// The index in memory order of the first byte marked in `hits`.
constexpr std::size_t first_marked(std::uint64_t hits) {
    static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big);
    const int bit = std::endian::native == std::endian::little ? std::countr_zero(hits) : std::countl_zero(hits);
    return static_cast<std::size_t>(bit) / 8;
}

// find_either eight bytes at a time, for any processor.
inline std::size_t find_either_in_words(const unsigned char* data, std::size_t from, std::size_t size, unsigned char a,
                                        unsigned char b) {
    if (size < WORD) {
        for (std::size_t at = from; at < size; ++at)
            if (data[at] == a || data[at] == b) return at;
        return size;
    }
    std::size_t at = from;
    for (; at + WORD <= size; at += WORD) {
        if (const std::uint64_t hits = word_hits(data + at, a, b)) return at + first_marked(hits);
    }
    if (at == size) return size;
    // The rest as the run's last eight bytes, without the hits before `at`.
    const std::size_t last = size - WORD;
    std::uint64_t hits = word_hits(data + last, a, b);
    const std::size_t skip = 8 * (at - last);
    hits &= std::endian::native == std::endian::little ? ~std::uint64_t{0} << skip : ~std::uint64_t{0} >> skip;
    return hits != 0 ? last + first_marked(hits) : size;
}

}  // namespace byte_scan

// The index of the first byte in data[from, size) that is `a` or `b`, or `size`. Reads
// no byte outside data[0, size): a run's tail is tested as its last whole block, less
// the bytes before `from`.
inline std::size_t find_either(const unsigned char* data, std::size_t from, std::size_t size, unsigned char a,
                               unsigned char b) {
#ifdef __SSE2__
    // Sixteen bytes a compare where the processor has them, as every x86-64 does.
    constexpr std::size_t BLOCK = 16;
    if (size >= BLOCK) {
        const __m128i want_a = _mm_set1_epi8(static_cast<char>(a));
        const __m128i want_b = _mm_set1_epi8(static_cast<char>(b));
        const auto hits_at = [&](std::size_t at) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
            return static_cast<unsigned>(
                _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, want_a), _mm_cmpeq_epi8(block, want_b))));
        };
        std::size_t at = from;
        for (; at + BLOCK <= size; at += BLOCK) {
            if (const unsigned hits = hits_at(at)) return at + static_cast<std::size_t>(std::countr_zero(hits));
        }
        if (at == size) return size;
        const std::size_t last = size - BLOCK;
        const unsigned hits = hits_at(last) & (~0U << (at - last));
        return hits != 0 ? last + static_cast<std::size_t>(std::countr_zero(hits)) : size;
    }
#endif
    return byte_scan::find_either_in_words(data, from, size, a, b);
}

// The index of the first `byte` in data[0, size), or `size`.
inline std::size_t find_byte(const unsigned char* data, std::size_t size, unsigned char byte) {
    return find_either(data, 0, size, byte, byte);
}
