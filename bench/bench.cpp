// Benchmark: generates listings in a memory-backed folder and times entrytable against
// a dd copy of the same file, interleaved, reporting medians, ratios and peak memory.
#include <sys/ptrace.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::size_t MiB = 1024 * 1024;

const std::string OPEN = "\x81\x79";                                                           // 【
const std::string MARKER = "\x81\x7A";                                                         // 】
const std::string ENTRY = OPEN + "\x83\x47\x83\x93\x83\x67\x83\x8A\x81\x5B\x96\xBC" + MARKER;  // 【エントリー名】

// Shift_JIS family names:
// 山田、佐藤、鈴木、高橋、田中、伊藤、渡辺、中村、小林、加藤、吉田、山本、松本、井上、木村、斎藤
constexpr std::string_view FAMILY[] = {
    "\x8E\x52\x93\x63", "\x8D\xB2\x93\xA1", "\x97\xE9\x96\xD8", "\x8D\x82\x8B\xB4",
    "\x93\x63\x92\x86", "\x88\xC9\x93\xA1", "\x93\x6E\x95\xD3", "\x92\x86\x91\xBA",
    "\x8F\xAC\x97\xD1", "\x89\xC1\x93\xA1", "\x8B\x67\x93\x63", "\x8E\x52\x96\x7B",
    "\x8F\xBC\x96\x7B", "\x88\xE4\x8F\xE3", "\x96\xD8\x91\xBA", "\x8D\xD6\x93\xA1",
};
// Shift_JIS given names: 太郎、花子、一郎、美咲、健太、陽子、大輔、由美、翔太、さくら、拓也、恵子
constexpr std::string_view GIVEN[] = {
    "\x91\xBE\x98\x59", "\x89\xD4\x8E\x71",         "\x88\xEA\x98\x59", "\x94\xFC\x8D\xE7",
    "\x8C\x92\x91\xBE", "\x97\x7A\x8E\x71",         "\x91\xE5\x95\xE3", "\x97\x52\x94\xFC",
    "\xE3\xC4\x91\xBE", "\x82\xB3\x82\xAD\x82\xE7", "\x91\xF1\x96\xE7", "\x8C\x62\x8E\x71",
};
// Shift_JIS readings: やまだ たろう、さとう はなこ、すずき いちろう、たかはし みさき、たなか けんた、いとう
// ようこ、わたなべ だいすけ、なかむら ゆみ
constexpr std::string_view READING[] = {
    "\x82\xE2\x82\xDC\x82\xBE\x20\x82\xBD\x82\xEB\x82\xA4",
    "\x82\xB3\x82\xC6\x82\xA4\x20\x82\xCD\x82\xC8\x82\xB1",
    "\x82\xB7\x82\xB8\x82\xAB\x20\x82\xA2\x82\xBF\x82\xEB\x82\xA4",
    "\x82\xBD\x82\xA9\x82\xCD\x82\xB5\x20\x82\xDD\x82\xB3\x82\xAB",
    "\x82\xBD\x82\xC8\x82\xA9\x20\x82\xAF\x82\xF1\x82\xBD",
    "\x82\xA2\x82\xC6\x82\xA4\x20\x82\xE6\x82\xA4\x82\xB1",
    "\x82\xED\x82\xBD\x82\xC8\x82\xD7\x20\x82\xBE\x82\xA2\x82\xB7\x82\xAF",
    "\x82\xC8\x82\xA9\x82\xDE\x82\xE7\x20\x82\xE4\x82\xDD",
};
// Shift_JIS departments: 営業部、経理部、開発部、総務部、人事部、品質管理部、企画室、カスタマーサポート
constexpr std::string_view DEPARTMENT[] = {
    "\x89\x63\x8B\xC6\x95\x94", "\x8C\x6F\x97\x9D\x95\x94",
    "\x8A\x4A\x94\xAD\x95\x94", "\x91\x8D\x96\xB1\x95\x94",
    "\x90\x6C\x8E\x96\x95\x94", "\x95\x69\x8E\xBF\x8A\xC7\x97\x9D\x95\x94",
    "\x8A\xE9\x89\xE6\x8E\xBA", "\x83\x4A\x83\x58\x83\x5E\x83\x7D\x81\x5B\x83\x54\x83\x7C\x81\x5B\x83\x67",
};
// Shift_JIS notes:
// 在宅勤務（火・木）、東京本社、３階、大阪支店から異動、プロジェクト「ホライズン」担当、休暇中：１２月２０日まで、新人研修の講師、ノートパソコン貸与済み、会議室予約の窓口
constexpr std::string_view NOTE[] = {
    "\x8D\xDD\x91\xEE\x8B\xCE\x96\xB1\x81\x69\x89\xCE\x81\x45\x96\xD8\x81\x6A",
    "\x93\x8C\x8B\x9E\x96\x7B\x8E\xD0\x81\x41\x82\x52\x8A\x4B",
    "\x91\xE5\x8D\xE3\x8E\x78\x93\x58\x82\xA9\x82\xE7\x88\xD9\x93\xAE",
    "\x83\x76\x83\x8D\x83\x57\x83\x46\x83\x4E\x83\x67\x81\x75\x83\x7A\x83\x89\x83\x43\x83\x59\x83\x93\x81\x76\x92\x53"
    "\x93\x96",
    "\x8B\x78\x89\xC9\x92\x86\x81\x46\x82\x50\x82\x51\x8C\x8E\x82\x51\x82\x4F\x93\xFA\x82\xDC\x82\xC5",
    "\x90\x56\x90\x6C\x8C\xA4\x8F\x43\x82\xCC\x8D\x75\x8E\x74",
    "\x83\x6D\x81\x5B\x83\x67\x83\x70\x83\x5C\x83\x52\x83\x93\x91\xDD\x97\x5E\x8D\xCF\x82\xDD",
    "\x89\xEF\x8B\x63\x8E\xBA\x97\x5C\x96\xF1\x82\xCC\x91\x8B\x8C\xFB",
};
// Shift_JIS field labels with their brackets: 【読み】、【所属】、【内線】、【メモ】、【住所】、【備考】
constexpr std::string_view LABEL[] = {
    "\x81\x79\x93\xC7\x82\xDD\x81\x7A", "\x81\x79\x8F\x8A\x91\xAE\x81\x7A", "\x81\x79\x93\xE0\x90\xFC\x81\x7A",
    "\x81\x79\x83\x81\x83\x82\x81\x7A", "\x81\x79\x8F\x5A\x8F\x8A\x81\x7A", "\x81\x79\x94\xF5\x8D\x6C\x81\x7A",
};

// Deterministic, so every run and every machine times the same bytes.
struct Random {
    std::uint64_t state;
    std::uint64_t next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    template <typename T, std::size_t N>
    std::string_view pick(const T (&pool)[N]) {
        return pool[next() % N];
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

// Entries as an office exports them: a name line, one to four field lines, a blank line.
void realistic_entry(std::string& out, Random& random) {
    out += ENTRY;
    out += random.pick(FAMILY);
    out += ' ';
    out += random.pick(GIVEN);
    out += "\r\n";
    const std::size_t fields = 1 + random.below(4);
    for (std::size_t i = 0; i < fields; ++i) {
        out += random.pick(LABEL);
        switch (random.below(3)) {
            case 0:
                out += random.pick(READING);
                break;
            case 1:
                out += random.pick(DEPARTMENT);
                break;
            default:
                out += random.pick(NOTE);
                break;
        }
        out += "\r\n";
    }
    out += "\r\n";
}

// Shift_JIS text without markers, `size` bytes long (a character may be cut at the end).
void text_run(std::string& out, Random& random, std::size_t size) {
    const std::size_t start = out.size();
    while (out.size() - start < size) out += random.pick(NOTE);
    out.resize(start + size);
}

using Generator = std::function<void(std::string&, Random&)>;

struct Shape {
    const char* name;
    std::size_t size;
    std::string start;   // the starting number, and whatever precedes the first unit
    Generator generate;  // appends one unit of the shape
};

const Shape SHAPES[] = {
    {"realistic", 256 * MiB, "1\r\n\r\n", realistic_entry},
    {"realistic-16M", 16 * MiB, "1\r\n\r\n", realistic_entry},
    {"long-lines", 64 * MiB, "1\r\n",
     [](std::string& out, Random& random) {
         out += random.pick(LABEL);
         text_run(out, random, 500 + random.below(2500));
         out += "\r\n";
     }},
    {"one-64M-line", 64 * MiB, "1\r\n" + ENTRY, [](std::string& out, Random& random) { text_run(out, random, 4096); }},
    {"dense-markers", 16 * MiB, "1\r\n",
     [](std::string& out, Random& random) {
         out += ENTRY;
         for (std::size_t i = 0, n = 10 + random.below(20); i < n; ++i) out += MARKER + "ab";
         out += "\r\n";
     }},
    {"nul-bytes", 64 * MiB, "1\r\n\r\n",
     [](std::string& out, Random& random) {
         realistic_entry(out, random);
         out.insert(out.size() - 4 - random.below(8), 1, '\0');
         if (random.below(4) == 0) out += std::string(1, '\0') + ENTRY + "\r\n";
     }},
};

// Written a megabyte at a time: the benchmark stays small, and so does the memory
// that the programs it starts inherit until they exec.
void generate(const Shape& shape, const fs::path& file) {
    Random random{0x9E3779B97F4A7C15ULL};
    std::ofstream stream(file, std::ios::binary);
    std::string chunk = shape.start;
    for (std::size_t written = 0; written < shape.size;) {
        shape.generate(chunk, random);
        if (chunk.size() < MiB && written + chunk.size() < shape.size) continue;
        const std::size_t n = std::min(chunk.size(), shape.size - written);
        stream.write(chunk.data(), static_cast<std::streamsize>(n));
        written += n;
        chunk.clear();
    }
}

struct Sample {
    double seconds;
    long peak_kib;
};

// The high-water mark of resident memory, in KiB, of a process that has not yet
// released its memory, from /proc.
long resident_peak_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

// Runs a program in `folder` and measures its wall time and peak resident memory.
// getrusage would count the pages this benchmark held when it forked as the child's
// too, so the child is traced instead: it stops on its way out, while /proc still
// shows its own high-water mark.
Sample run_in(const fs::path& folder, const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0 || chdir(folder.c_str()) != 0) _exit(127);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    long peak_kib = -1;
    waitpid(child, &status, 0);  // stopped at the exec
    ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACEEXIT);
    int signal = 0;
    for (;;) {
        ptrace(PTRACE_CONT, child, nullptr, signal);
        waitpid(child, &status, 0);
        if (!WIFSTOPPED(status)) break;
        const bool exiting = status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8));
        if (exiting) peak_kib = resident_peak_kib(child);
        signal = exiting ? 0 : WSTOPSIG(status);  // a signal of its own is passed on
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::cerr << command[0] << " failed in " << folder << "\n";
        std::exit(1);
    }
    return {elapsed.count(), peak_kib};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

fs::path default_folder() {
    std::error_code error;
    if (fs::is_directory("/dev/shm", error)) return "/dev/shm/entrytable-bench";
    return fs::temp_directory_path() / "entrytable-bench";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: entrytable_bench ENTRYTABLE [RUNS] [RESULTS_FILE] [FOLDER]\n";
        return 2;
    }
    const std::string tool = fs::absolute(argv[1]).string();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const fs::path results = argc > 3 ? fs::path(argv[3]) : fs::path("bench-results.md");
    const fs::path root = argc > 4 ? fs::path(argv[4]) : default_folder();

    std::ostringstream table;
    table << "| shape | input MiB | output MiB | entrytable s | MB/s | dd s | × dd | peak RSS MiB | ns/byte | × "
             "realistic |\n"
          << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    std::cout << "runs: " << runs << ", folder: " << root.string() << "\n";
    double realistic_ns = 0;
    for (const Shape& shape : SHAPES) {
        const fs::path folder = root / shape.name;
        fs::create_directories(folder);
        generate(shape, folder / "input.txt");
        std::vector<double> tool_times, copy_times;
        long peak_kib = 0;
        for (int i = 0; i < runs; ++i) {  // interleaved, so both see the same machine load
            const Sample sample = run_in(folder, {tool});
            tool_times.push_back(sample.seconds);
            peak_kib = std::max(peak_kib, sample.peak_kib);
            copy_times.push_back(run_in(folder, {"dd", "if=input.txt", "of=copy.txt", "bs=1M", "status=none"}).seconds);
        }
        const double in_bytes = static_cast<double>(fs::file_size(folder / "input.txt"));
        const double out_bytes = static_cast<double>(fs::file_size(folder / "output.txt"));
        const double tool_s = median(tool_times), copy_s = median(copy_times);
        // The cost per byte of whichever side is larger: a shape whose output dwarfs its
        // input is held to the bytes it writes.
        const double ns_per_byte = tool_s * 1e9 / std::max(in_bytes, out_bytes);
        if (realistic_ns == 0) realistic_ns = ns_per_byte;
        char row[512];
        std::snprintf(row, sizeof row, "| %s | %.0f | %.0f | %.3f | %.0f | %.3f | %.2f | %.1f | %.2f | %.2f |\n",
                      shape.name, in_bytes / MiB, out_bytes / MiB, tool_s, in_bytes / tool_s / 1e6, copy_s,
                      tool_s / copy_s, static_cast<double>(peak_kib) / 1024, ns_per_byte, ns_per_byte / realistic_ns);
        table << row;
        std::cout << row << std::flush;
        fs::remove_all(folder);
    }
    std::ofstream(results) << table.str();
    std::cout << "\n" << table.str() << "written to " << fs::absolute(results).string() << "\n";
    return 0;
}
