// TextWriter: the line-feed rule, whatever the buffer size, and failed writes.
#include <gtest/gtest.h>

#include <string>

#include "memory_streams.h"

namespace {

using namespace std::string_literals;

struct WriteCase {
    const char* name;
    std::vector<std::string> writes;
    std::string bytes;
};

const WriteCase WRITE_CASES[] = {
    {"RowHeader", {"\n|001|x|"}, "\x0D\x0A\x7C\x30\x30\x31\x7C\x78\x7C"},
    {"EveryLineFeed", {"\n\n", "a\nb", "\n"}, "\r\n\r\na\r\nb\r\n"},
    {"OtherBytesUnchanged", {"a\rb", "\0\x1A\xFF\x81\x7A"s}, "a\rb\0\x1A\xFF\x81\x7A"s},
    {"CrLfGetsASecondCr", {"a\r\n"}, "a\r\r\n"},
    {"Nothing", {"", ""}, ""},
};

class WriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteTest, WritesLineFeedsAsCrLfForEveryBufferSize) {
    for (const std::size_t buffer_size : {1, 2, 3, 1 << 16}) {
        MemorySink sink;
        TextWriter out;
        attach_writer(out, MemorySink::write, &sink, buffer_size);
        for (const std::string& text : GetParam().writes) write_bytes(out, text);
        EXPECT_TRUE(close_writer(out));
        EXPECT_EQ(sink.bytes, GetParam().bytes) << "buffer of " << buffer_size;
        EXPECT_LE(sink.largest_write, buffer_size);
    }
}

INSTANTIATE_TEST_SUITE_P(WritingRule, WriteTest, testing::ValuesIn(WRITE_CASES),
                         [](const auto& info) { return info.param.name; });

TEST(WriteFailure, IsKeptAndLaterBytesAreDropped) {
    MemorySink sink;
    sink.fail_after = 1;
    TextWriter out;
    attach_writer(out, MemorySink::write, &sink, 4);
    write_bytes(out, "abcd");    // fills the buffer
    write_bytes(out, "efgh\n");  // the first flush succeeds, the second fails
    EXPECT_TRUE(out.failed);
    write_bytes(out, "ijkl");
    EXPECT_FALSE(close_writer(out));
    EXPECT_EQ(sink.bytes, "abcd");
}

TEST(WriteFailure, OnTheLastFlushIsToldByClose) {
    MemorySink sink;
    sink.fail_after = 0;
    TextWriter out;
    attach_writer(out, MemorySink::write, &sink, 1024);
    write_bytes(out, "short");
    EXPECT_FALSE(out.failed);
    EXPECT_FALSE(close_writer(out));
}

}  // namespace
