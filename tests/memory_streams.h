// In-memory byte sources and sinks for driving TextReader and TextWriter in tests.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "textio/text_reader.h"
#include "textio/text_writer.h"

// Hands out `data` in reads of at most `chunk` bytes; fails with a read error once
// `fail_at` bytes have been given, if that is within the data.
struct MemorySource {
    std::string_view data;
    std::size_t chunk = static_cast<std::size_t>(-1);
    std::size_t fail_at = static_cast<std::size_t>(-1);
    std::size_t pos = 0;

    static std::ptrdiff_t read(void* self, unsigned char* buffer, std::size_t size) {
        auto& source = *static_cast<MemorySource*>(self);
        if (source.pos >= source.fail_at) return -1;
        const std::size_t limit = std::min(source.data.size(), source.fail_at);
        const std::size_t n = std::min({size, source.chunk, limit - source.pos});
        std::memcpy(buffer, source.data.data() + source.pos, n);
        source.pos += n;
        return static_cast<std::ptrdiff_t>(n);
    }
};

// Collects what a writer hands over; refuses every write once `fail_after` writes
// have been taken.
struct MemorySink {
    std::string bytes;
    std::size_t writes = 0;
    std::size_t largest_write = 0;
    std::size_t fail_after = static_cast<std::size_t>(-1);

    static bool write(void* self, const unsigned char* data, std::size_t size) {
        auto& sink = *static_cast<MemorySink*>(self);
        if (sink.writes >= sink.fail_after) return false;
        ++sink.writes;
        sink.largest_write = std::max(sink.largest_write, size);
        sink.bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
};

// A reader on a MemorySource and a writer on a MemorySink, attached.
struct MemoryStreams {
    TextReader in;
    TextWriter out;
    MemoryStreams(MemorySource& source, MemorySink& sink, std::size_t write_size = 4096) {
        attach_reader(in, MemorySource::read, &source);
        attach_writer(out, MemorySink::write, &sink, write_size);
    }
};

inline std::string_view as_text(std::span<const unsigned char> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}
