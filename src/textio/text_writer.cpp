// Buffered writing with the DOS line-feed rule applied on the way into the buffer.
#include "textio/text_writer.h"

#include <algorithm>
#include <cstring>

#include "textio/byte_scan.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// Output can be far larger than the input (every marker repeats the rest of its
// line), so the buffer is large enough that writes are few.
constexpr std::size_t WRITE_BLOCK_SIZE = std::size_t{128} * 1024;
// Messages are short; the buffer only has to hold one.
constexpr std::size_t CONSOLE_BUFFER_SIZE = 256;

constexpr unsigned char LF = 0x0A;
constexpr unsigned char CR_LF[] = {0x0D, 0x0A};

bool write_file(void* sink, const unsigned char* data, std::size_t size) {
    return std::fwrite(data, 1, size, static_cast<std::FILE*>(sink)) == size;
}

}  // namespace

bool open_writer(TextWriter& out, const char* name) {
    std::FILE* file = std::fopen(name, "wb");
    if (file == nullptr) return false;
    // The writer hands over whole blocks; a stdio buffer would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    attach_writer(out, write_file, file, WRITE_BLOCK_SIZE);
    out.file = file;
    return true;
}

void open_standard_output(TextWriter& out) {
#ifdef _WIN32
    // Text mode would turn the CR LF written here into CR CR LF.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // Unbuffered, so that what is flushed here is out before the process ends.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    attach_writer(out, write_file, stdout, CONSOLE_BUFFER_SIZE);
}

void attach_writer(TextWriter& out, WriteFn write, void* sink, std::size_t buffer_size) {
    out.write = write;
    out.sink = sink;
    out.file = nullptr;
    out.buffer.assign(std::max<std::size_t>(buffer_size, 1), 0);
    out.used = 0;
    out.failed = false;
}

void write_bytes(TextWriter& out, const unsigned char* data, std::size_t size) {
    const unsigned char* const end = data + size;
    while (data != end) {
        const unsigned char* const lf = data + find_byte(data, static_cast<std::size_t>(end - data), LF);
        if (lf == end) {
            write_plain(out, data, static_cast<std::size_t>(end - data));
            return;
        }
        write_plain(out, data, static_cast<std::size_t>(lf - data));
        write_newline(out);
        data = lf + 1;
    }
}

void write_bytes(TextWriter& out, std::string_view text) {
    write_bytes(out, reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

void write_newline(TextWriter& out) { write_plain(out, CR_LF, sizeof CR_LF); }

void write_plain_flushing(TextWriter& out, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        if (out.used == out.buffer.size()) flush_writer(out);
        const std::size_t n = std::min(size, out.buffer.size() - out.used);
        std::memcpy(out.buffer.data() + out.used, data, n);
        out.used += n;
        data += n;
        size -= n;
    }
}

bool flush_writer(TextWriter& out) {
    if (out.used > 0 && !out.failed) out.failed = !out.write(out.sink, out.buffer.data(), out.used);
    out.used = 0;
    return !out.failed;
}

bool close_writer(TextWriter& out) {
    flush_writer(out);
    if (out.file != nullptr && std::fclose(out.file) != 0) out.failed = true;
    out.file = nullptr;
    return !out.failed;
}
