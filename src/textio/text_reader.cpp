// Block reads with the DOS reading rules applied to each block as it arrives.
#include "textio/text_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// Large enough that a read costs little next to the bytes it brings; the extra
// PIECE_MAX_BYTES hold the unfinished piece carried over from the last block.
constexpr std::size_t READ_BLOCK_SIZE = 128 * 1024;
constexpr std::size_t READER_BUFFER_SIZE = READ_BLOCK_SIZE + PIECE_MAX_BYTES;

constexpr unsigned char CR = 0x0D;
constexpr unsigned char LF = 0x0A;
constexpr unsigned char END_MARK = 0x1A;

std::ptrdiff_t read_file(void* source, unsigned char* buffer, std::size_t size) {
    auto* file = static_cast<std::FILE*>(source);
    const std::size_t got = std::fread(buffer, 1, size, file);
    if (got < size && std::ferror(file)) return -1;
    return static_cast<std::ptrdiff_t>(got);
}

// Applies the reading rules to freshly read bytes in place: the text ends at the
// first 0x1A, and every CR is dropped wherever it stands. Returns the bytes kept.
std::size_t filter_block(unsigned char* data, std::size_t size, bool& at_end) {
    if (const void* mark = std::memchr(data, END_MARK, size)) {
        size = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - data);
        at_end = true;
    }
    auto* out = static_cast<unsigned char*>(std::memchr(data, CR, size));
    if (out == nullptr) return size;
    const unsigned char* const end = data + size;
    for (const unsigned char* run = out + 1; run < end;) {
        const auto* cr = static_cast<const unsigned char*>(std::memchr(run, CR, static_cast<std::size_t>(end - run)));
        const unsigned char* run_end = cr != nullptr ? cr : end;
        std::memmove(out, run, static_cast<std::size_t>(run_end - run));
        out += run_end - run;
        run = run_end + 1;
    }
    return static_cast<std::size_t>(out - data);
}

// Moves the unread tail to the front and reads more text behind it, so that a piece
// never straddles two blocks. Sets at_end when the source has nothing more.
void refill(TextReader& in) {
    unsigned char* const base = in.buffer.data();
    if (in.pos > 0) {
        std::memmove(base, base + in.pos, in.end - in.pos);
        in.end -= in.pos;
        in.pos = 0;
    }
    const std::ptrdiff_t got = in.read(in.source, base + in.end, in.buffer.size() - in.end);
    if (got <= 0) {
        in.at_end = true;
        in.failed = got < 0;
        return;
    }
    in.end += filter_block(base + in.end, static_cast<std::size_t>(got), in.at_end);
}

// The next byte without taking it, or -1 at the end of the input.
int peek_byte(TextReader& in) {
    while (in.pos == in.end) {
        if (in.at_end) return -1;
        refill(in);
    }
    return in.buffer[in.pos];
}

bool is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(int c) { return c >= '0' && c <= '9'; }

}  // namespace

bool open_reader(TextReader& in, const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return false;
    // POSIX opens a directory for reading, but it has no text to give.
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) {
        std::fclose(file);
        return false;
    }
    // Reads are whole blocks already; a stdio buffer would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    attach_reader(in, read_file, file);
    in.file = file;
    return true;
}

void attach_reader(TextReader& in, ReadFn read, void* source) {
    in.read = read;
    in.source = source;
    in.file = nullptr;
    in.buffer.assign(READER_BUFFER_SIZE, 0);
    in.pos = in.end = 0;
    in.at_end = in.failed = false;
}

bool read_int(TextReader& in, std::int32_t& value) {
    int c = peek_byte(in);
    while (is_space(c)) {
        ++in.pos;
        c = peek_byte(in);
    }
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        ++in.pos;  // a sign without digits is lost, not put back
        c = peek_byte(in);
    }
    if (!is_digit(c)) return false;
    // Unsigned arithmetic wraps: the result is the whole digit string modulo 2^32.
    std::uint32_t magnitude = 0;
    do {
        magnitude = magnitude * 10U + static_cast<std::uint32_t>(c - '0');
        ++in.pos;
        c = peek_byte(in);
    } while (is_digit(c));
    value = static_cast<std::int32_t>(negative ? 0U - magnitude : magnitude);
    return true;
}

std::span<const unsigned char> read_piece(TextReader& in) {
    for (;;) {
        const unsigned char* const start = in.buffer.data() + in.pos;
        const std::size_t available = in.end - in.pos;
        std::size_t length = 0;
        if (const void* lf = std::memchr(start, LF, std::min(available, PIECE_MAX_BYTES))) {
            length = static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - start) + 1;
        } else if (available >= PIECE_MAX_BYTES) {
            length = PIECE_MAX_BYTES;  // a long line is cut; the rest comes as further pieces
        } else if (!in.at_end) {
            refill(in);
            continue;
        } else if (!in.failed) {
            length = available;  // the last line, without a line feed; 0 at the end
        }
        // A piece that a read error cut short is not handed out.
        in.pos += length;
        return {start, length};
    }
}

void close_reader(TextReader& in) {
    if (in.file != nullptr) std::fclose(in.file);
    in.file = nullptr;
    in.source = nullptr;
    in.at_end = true;
}
