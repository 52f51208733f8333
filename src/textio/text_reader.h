// The input side of the DOS text convention: CR bytes dropped, 0x1A ends the text,
// the data handed out as a starting number and line pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

// Listings have always been read through a 500-byte line buffer with its NUL
// terminator, so a line comes in pieces of at most 499 bytes. Stored tables depend
// on where those cuts fall: a marker or label cut in two is not found.
inline constexpr std::size_t PIECE_BUFFER_SIZE = 500;
inline constexpr std::size_t PIECE_MAX_BYTES = PIECE_BUFFER_SIZE - 1;

// Raw bytes for a reader: fills up to `size` bytes of `buffer` and returns how many,
// 0 at the end of the source, or -1 on a read error.
using ReadFn = std::ptrdiff_t (*)(void* source, unsigned char* buffer, std::size_t size);

struct TextReader {
    ReadFn read = nullptr;
    void* source = nullptr;
    std::FILE* file = nullptr;  // owned, when the reader opened a file itself
    // Text not yet handed out, in buffer[pos, end): cut at 0x1A, CRs dropped but
    // for those directly before a line feed, which read_piece folds.
    std::vector<unsigned char> buffer;
    std::size_t pos = 0;
    std::size_t end = 0;
    bool at_end = false;  // the source has nothing more: end of file, 0x1A, or error
    bool failed = false;  // a read error ended the data
};

// Opens an existing file for reading; false if it is absent, unreadable or a directory.
bool open_reader(TextReader& in, const char* name);

// Reads through `read`, for sources other than files; the reader does not own `source`.
void attach_reader(TextReader& in, ReadFn read, void* source);

// Reads an optionally signed decimal number after white space into `value`, modulo
// 2^32 whatever its length. False, and `value` untouched, when no digit follows; the
// byte that ends the number stays in the input.
bool read_int(TextReader& in, std::int32_t& value);

// The next line piece: up to and including the next line feed, at most
// PIECE_MAX_BYTES. It points into the reader and stays valid until the next read.
// Empty at the end of the input; `in.failed` then tells a read error from the end.
std::span<const unsigned char> read_piece(TextReader& in);

// Releases the file, if the reader opened one.
void close_reader(TextReader& in);
