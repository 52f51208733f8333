// Block reads with the DOS reading rules applied to each block as it arrives.
#include "textio/text_reader.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "textio/byte_scan.h"

namespace {

// Large enough that a read costs little next to the bytes it brings; the extra
// PIECE_MAX_BYTES hold the unfinished piece carried over from the last block.
constexpr std::size_t READ_BLOCK_SIZE = std::size_t{128} * 1024;
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

// Whether every CR in data[0, size) stands directly before a line feed within it.
// Written as a plain loop over the block so that the compiler vectorises it.
bool only_line_end_crs(const unsigned char* data, std::size_t size) {
    if (size == 0) return true;
    unsigned char stray = 0;
    for (std::size_t i = 0; i + 1 < size; ++i)
        stray |= static_cast<unsigned char>((data[i] == CR) & (data[i + 1] != LF));
    return stray == 0 && data[size - 1] != CR;
}

// Applies the reading rules to freshly read bytes in place and returns the bytes
// kept. The text ends at the first 0x1A. A CR that stands before a line feed is left
// for read_piece to fold into the line end, which costs nothing more than the line
// feed search; a block with any other CR, or one that ends in a CR whose line feed
// may come with the next read, has all its CRs removed here instead.
std::size_t filter_block(unsigned char* data, std::size_t size, bool& at_end) {
    if (const void* mark = std::memchr(data, END_MARK, size)) {
        size = static_cast<std::size_t>(static_cast<const unsigned char*>(mark) - data);
        at_end = true;
    }
    if (only_line_end_crs(data, size)) return size;
    auto* out = static_cast<unsigned char*>(std::memchr(data, CR, size));
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
    // Every CR left in the buffer stands directly before a line feed (filter_block),
    // so a line of 499 bytes after CR removal takes at most 500 bytes here.
    constexpr std::size_t WINDOW = PIECE_MAX_BYTES + 1;
    for (;;) {
        unsigned char* const start = in.buffer.data() + in.pos;
        const std::size_t available = in.end - in.pos;
        std::size_t length = 0;    // of the piece handed out
        std::size_t consumed = 0;  // of the buffer, a folded CR included
        const std::size_t window = std::min(available, WINDOW);
        if (const std::size_t lf = find_byte(start, window, LF); lf < window) {
            if (lf > 0 && start[lf - 1] == CR) {
                start[lf - 1] = LF;  // CR LF folds into the piece's line feed, in place
                length = lf;
                consumed = lf + 1;
            } else {
                // A line feed after 499 other bytes starts the next piece.
                length = consumed = std::min(lf + 1, PIECE_MAX_BYTES);
            }
        } else if (available >= WINDOW) {
            length = consumed = PIECE_MAX_BYTES;  // a long line is cut; the rest comes as further pieces
        } else if (!in.at_end) {
            refill(in);
            continue;
        } else if (!in.failed) {
            length = consumed = available;  // the last line, without a line feed; 0 at the end
        }
        // A piece that a read error cut short is not handed out.
        in.pos += consumed;
        return {start, length};
    }
}

void close_reader(TextReader& in) {
    if (in.file != nullptr) std::fclose(in.file);
    in.file = nullptr;
    in.source = nullptr;
    in.at_end = true;
}
