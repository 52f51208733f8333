// Runs the built entrytable in a fresh folder and checks output.txt, standard output,
// the exit status and what became of input.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX  // mingw-w64 sets it already
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/wait.h>
#endif

#include "listing_bytes.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

const std::string CANT_OPEN_INPUT = "can't open -input.txt-\r\n";
const std::string CANT_OPEN_OUTPUT = "can't open -output.txt-m";
const std::string CANT_READ_INPUT = "can't read -input.txt-\r\n";
const std::string CANT_WRITE_OUTPUT = "can't write -output.txt-\r\n";

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void write_file(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

struct RunResult {
    int status = -1;
    std::string out;  // standard output
    std::string err;  // standard error, or why the tool did not start
};

struct Setting {
    std::string name;
    std::optional<std::string> value;  // none: not set
};

// Sets or removes one environment variable of this process, which the tool inherits.
void set_variable(const Setting& setting) {
#ifdef _WIN32
    _putenv_s(setting.name.c_str(), setting.value ? setting.value->c_str() : "");  // "" removes it
#else
    if (setting.value) {
        setenv(setting.name.c_str(), setting.value->c_str(), 1);
    } else {
        unsetenv(setting.name.c_str());
    }
#endif
}

// Runs the tool in `folder` with `arguments`, standard output and standard error going
// to the files `out` and `err`; returns its exit status, or -1 with `failure` set when
// it did not start or did not exit.
int run_tool(const fs::path& folder, const std::string& arguments, const fs::path& out, const fs::path& err,
             std::string& failure) {
#ifdef _WIN32
    // Started directly, not through cmd, which reports a failed start as an unknown
    // command and exits with a status of its own.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto open = [&](const wchar_t* path, DWORD access, DWORD disposition) {
        return CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = open(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = open(out.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    startup.hStdError = open(err.c_str(), GENERIC_WRITE, CREATE_ALWAYS);
    std::wstring command = L"\"" + fs::path(ENTRYTABLE_EXE).wstring() + L"\" " +
                           std::wstring(arguments.begin(), arguments.end());  // the arguments are ASCII
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(), &startup, &process);
    const DWORD error = GetLastError();
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError}) {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    if (!started) {
        failure = "the tool did not start: error " + std::to_string(error);
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(status);
#else
    const std::string command = "cd \"" + folder.string() + "\" && \"" ENTRYTABLE_EXE "\" " + arguments + " >\"" +
                                out.string() + "\" 2>\"" + err.string() + "\"";
    const int raw = std::system(command.c_str());
    if (raw == -1 || !WIFEXITED(raw)) {
        failure = "the shell did not start, or the tool did not exit: status " + std::to_string(raw);
        return -1;
    }
    return WEXITSTATUS(raw);
#endif
}

// A fresh folder per test, removed afterwards; the tool runs in `work`.
class Folder {
public:
    Folder() {
        std::random_device seed;
        root_ = fs::temp_directory_path() / ("entrytable-e2e-" + std::to_string(seed()) + std::to_string(seed()));
        fs::create_directories(work());
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    fs::path work() const { return root_ / "work"; }
    fs::path input() const { return work() / "input.txt"; }
    fs::path output() const { return work() / "output.txt"; }

    // Runs the tool in `work` with `arguments` and with `environment` set for it.
    RunResult run(const std::vector<Setting>& environment = {}, const std::string& arguments = "") const {
        std::vector<Setting> before;
        for (const Setting& setting : environment) {
            const char* value = std::getenv(setting.name.c_str());
            before.push_back({setting.name, value ? std::optional<std::string>(value) : std::nullopt});
            set_variable(setting);
        }
        const fs::path out = root_ / "stdout", err = root_ / "stderr";
        std::string failure;
        RunResult result;
        result.status = run_tool(work(), arguments, out, err, failure);
        for (const Setting& setting : before) set_variable(setting);
        result.out = read_file(out).value_or("<none>");
        result.err = failure.empty() ? read_file(err).value_or("<none>") : failure;
        return result;
    }

private:
    fs::path root_;
};

struct EndToEndCase {
    const char* name;
    std::optional<std::string> input;  // none: no input.txt
    std::function<void(const Folder&)> prepare;
    std::optional<std::string> output;  // none: output.txt must not be there as a file
    std::string message;
    int status;
    const char* posix_only = nullptr;  // why the case cannot be set up on Windows
};

// Skips the running test on Windows, saying why.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(reason) GTEST_SKIP() << (reason)
#else
#define SKIP_ON_WINDOWS(reason) (void)(reason)
#endif

void no_setup(const Folder&) {}

const std::string ROW = "1\r\n" + O + L + "a\r\n";
const std::string CUT_ROW = "\r\n|001|" + std::string(485, 'v') + "|";

const EndToEndCase CASES[] = {
    {"ConvertsAListing",
     "5\r\n\r\n" + O + L + "Alice\r\n" + O + "ka" + M + "va\r\n" + O + "kb" + M + "vb\r\n\r\n" + O + L + "Bob\r\n" + O +
         L + "Carol\r\n\x1A",
     no_setup, "\r\n|005|Alice|va|vb|\r\n|006|Bob| |\r\n|007|Carol|", "", 0},
    {"NumberOnlyGivesAnEmptyTable", "5\r\n", no_setup, "", "", 0},
    {"EmptyInput", "", no_setup, "", "", 0},
    {"TruncatesAnExistingOutput", ROW, [](const Folder& f) { write_file(f.output(), std::string(10000, 'x')); },
     "\r\n|001|a|", "", 0},
    {"EmptyTableTruncatesTheOutput", "5\r\n", [](const Folder& f) { write_file(f.output(), "old rows"); }, "", "", 0},
    {"EndMarkAlone", "\x1A", no_setup, "", "", 0},
    {"NothingButCrs", std::string(1000, '\r'), no_setup, "", "", 0},
    // Files of 499, 500 and 998 bytes without a line feed: the first piece is cut at
    // 499 bytes, and what follows it holds no marker.
    {"FileOf499BytesWithoutLineFeed", L + std::string(485, 'v'), no_setup, CUT_ROW, "", 0},
    {"FileOf500BytesWithoutLineFeed", L + std::string(486, 'v'), no_setup, CUT_ROW, "", 0},
    {"FileOf998BytesWithoutLineFeed", L + std::string(984, 'v'), no_setup, CUT_ROW, "", 0},
    {"InputMissing", std::nullopt, no_setup, std::nullopt, CANT_OPEN_INPUT, 1},
    {"InputMissingLeavesOutputAlone", std::nullopt, [](const Folder& f) { write_file(f.output(), "old"); }, "old",
     CANT_OPEN_INPUT, 1},
    {"InputIsADirectory", std::nullopt, [](const Folder& f) { fs::create_directory(f.input()); }, std::nullopt,
     CANT_OPEN_INPUT, 1},
    {"OutputIsADirectory", ROW, [](const Folder& f) { fs::create_directory(f.output()); }, std::nullopt,
     CANT_OPEN_OUTPUT, 1},
    {"OutputHardLinkToInput", ROW, [](const Folder& f) { fs::create_hard_link(f.input(), f.output()); }, ROW,
     CANT_OPEN_OUTPUT, 1},
    {"OutputSymbolicLinkToInput", ROW, [](const Folder& f) { fs::create_symlink("input.txt", f.output()); }, ROW,
     CANT_OPEN_OUTPUT, 1, "symbolic links need a privilege on Windows"},
    // output.txt stays the link to /dev/full, which is not a file.
    {"DiskFull", ROW, [](const Folder& f) { fs::create_symlink("/dev/full", f.output()); }, std::nullopt,
     CANT_WRITE_OUTPUT, 1, "no device like /dev/full; the unit tests fail writes through the sink"},
    // Reading /proc/self/mem from offset 0 fails with EIO: a real read error after a
    // successful open.
    {"ReadError", std::nullopt, [](const Folder& f) { fs::create_symlink("/proc/self/mem", f.input()); }, "",
     CANT_READ_INPUT, 1, "no file like /proc/self/mem; the unit tests fail reads through the source"},
};

class EndToEndTest : public testing::TestWithParam<EndToEndCase> {};

TEST_P(EndToEndTest, Runs) {
    const EndToEndCase& c = GetParam();
    if (c.posix_only != nullptr) SKIP_ON_WINDOWS(c.posix_only);
    Folder folder;
    if (c.input) write_file(folder.input(), *c.input);
    c.prepare(folder);

    const RunResult run = folder.run();
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.message);
    EXPECT_EQ(run.err, "");
    if (c.output) {
        EXPECT_EQ(read_file(folder.output()), c.output);
    } else {
        EXPECT_FALSE(fs::is_regular_file(folder.output()));
    }
    if (c.input) {
        EXPECT_EQ(read_file(folder.input()), c.input) << "input.txt changed";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEndTest, testing::ValuesIn(CASES),
                         [](const auto& info) { return info.param.name; });

struct FixtureCase {
    const char* name;
    fs::path input;
    fs::path expected;
};

const FixtureCase FIXTURES[] = {
    {"Example", fs::path(EXAMPLE_DIR) / "input.txt", fs::path(FIXTURES_DIR) / "example" / "output.txt"},
    {"Listing", fs::path(FIXTURES_DIR) / "listing" / "input.txt", fs::path(FIXTURES_DIR) / "listing" / "output.txt"},
};

class FixtureTest : public testing::TestWithParam<FixtureCase> {};

TEST_P(FixtureTest, WritesTheExpectedTable) {
    Folder folder;
    fs::copy_file(GetParam().input, folder.input());
    const RunResult run = folder.run();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    const std::optional<std::string> expected = read_file(GetParam().expected);
    ASSERT_TRUE(expected);
    EXPECT_EQ(read_file(folder.output()), expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTest, testing::ValuesIn(FIXTURES),
                         [](const auto& info) { return info.param.name; });

TEST(EndToEnd, HundredMebibyteLine) {
    Folder folder;
    {
        std::ofstream file(folder.input(), std::ios::binary);
        file << L;
        const std::string block(1 << 20, 'x');
        for (int i = 0; i < 100; ++i) file << block;
    }
    const RunResult run = folder.run();
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(read_file(folder.output()), "\r\n|001|" + std::string(485, 'x') + "|");
}

TEST(EndToEnd, InputWithoutReadPermission) {
    SKIP_ON_WINDOWS("a file cannot be made unreadable through its attributes");
    Folder folder;
    write_file(folder.input(), ROW);
    fs::permissions(folder.input(), fs::perms::none);
    if (std::ifstream(folder.input())) GTEST_SKIP() << "this user reads any file (root)";
    const RunResult run = folder.run();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, CANT_OPEN_INPUT);
    EXPECT_FALSE(fs::exists(folder.output()));
}

// On Windows through the read-only attribute.
TEST(EndToEnd, ReadOnlyOutput) {
    Folder folder;
    write_file(folder.input(), ROW);
    write_file(folder.output(), "old");
    fs::permissions(folder.output(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const bool binds = !std::ofstream(folder.output(), std::ios::app);
    if (binds) {
        const RunResult run = folder.run();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, CANT_OPEN_OUTPUT);
        EXPECT_EQ(read_file(folder.output()), "old");
    }
    fs::permissions(folder.output(), fs::perms::owner_write, fs::perm_options::add);  // so that it can be removed
    if (!binds) GTEST_SKIP() << "this user writes any file (root, or wine run by root)";
}

TEST(EndToEnd, IgnoresArgumentsAndEnvironment) {
    Folder folder;
    write_file(folder.input(), ROW);
    const std::vector<Setting> environment = {
        {"LANG", "ja_JP.SJIS"}, {"ENTRYTABLE_INPUT", "other.txt"}, {"POSIXLY_CORRECT", "1"}};
    const RunResult run = folder.run(environment, "--help -o other.txt input.txt");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(read_file(folder.output()), "\r\n|001|a|");
    EXPECT_FALSE(fs::exists(folder.work() / "other.txt"));
}

TEST(EndToEnd, LeavesNothingElseInTheFolder) {
    Folder folder;
    write_file(folder.input(), ROW);
    folder.run();
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.work())) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"input.txt", "output.txt"}));
}

}  // namespace
