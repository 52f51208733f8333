// The output side of the DOS text convention: every line feed written as CR LF,
// through a buffer that reaches the file in large blocks.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

// Where a writer's bytes go: writes all `size` bytes, false on failure.
using WriteFn = bool (*)(void* sink, const unsigned char* data, std::size_t size);

struct TextWriter {
    WriteFn write = nullptr;
    void* sink = nullptr;
    std::FILE* file = nullptr;  // owned, when the writer opened a file itself
    std::vector<unsigned char> buffer;
    std::size_t used = 0;
    bool failed = false;  // a write failed; later bytes are dropped
};

// Creates the file, or truncates an existing one, for writing; false if that fails.
bool open_writer(TextWriter& out, const char* name);

// Makes `out` write to the process's standard output, in binary mode.
void open_standard_output(TextWriter& out);

// Writes through `write` in blocks of at most `buffer_size` (at least 1) bytes; the
// writer does not own `sink`.
void attach_writer(TextWriter& out, WriteFn write, void* sink, std::size_t buffer_size);

// Writes bytes unchanged, except that each line feed becomes CR LF.
void write_bytes(TextWriter& out, const unsigned char* data, std::size_t size);
void write_bytes(TextWriter& out, std::string_view text);

// Writes one line feed, as CR LF.
void write_newline(TextWriter& out);

// Writes bytes that hold no line feed, as they are: write_bytes without the search.
// Inline, as the conversion writes every value and cell end through it.
void write_plain_flushing(TextWriter& out, const unsigned char* data, std::size_t size);
inline void write_plain(TextWriter& out, const unsigned char* data, std::size_t size) {
    if (size <= out.buffer.size() - out.used) {
        std::memcpy(out.buffer.data() + out.used, data, size);
        out.used += size;
    } else {
        write_plain_flushing(out, data, size);
    }
}
inline void write_plain(TextWriter& out, std::string_view text) {
    write_plain(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Hands the buffered bytes to the sink; false once any write has failed.
bool flush_writer(TextWriter& out);

// Flushes and closes the file, if the writer opened one; false if any write or the
// close failed.
bool close_writer(TextWriter& out);
