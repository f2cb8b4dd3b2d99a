// The error path as a whole program: the log file beside the executable, its numbering and
// truncation per run, Shift-JIS text, the combinations of debug options, and whole lines from
// concurrent reports. Each case runs voxa_log_probe from a private copy in a temporary folder.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/support/TestPaths.h"

namespace oggmix::test {
namespace {

namespace fs = std::filesystem;

struct ProbeRun {
    int ExitCode = -1;
    std::string Output;
};

std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string FromShiftJis(const std::string& bytes) {
    iconv_t cd = iconv_open("UTF-8", "CP932");
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
    std::string out(bytes.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char* dest = out.data();
    size_t destLeft = out.size();
    EXPECT_NE(iconv(cd, &in, &inLeft, &dest, &destLeft), static_cast<size_t>(-1));
    iconv_close(cd);
    out.resize(out.size() - destLeft);
    return out;
}

class VOXALog : public ::testing::Test {
protected:
    void SetUp() override {
        FProbe = FDir.Path() + "/voxa_log_probe";
        fs::copy_file(ExecutableDir() + "/voxa_log_probe", FProbe);
    }

    ProbeRun Run(int bits, const std::vector<std::string>& commands) const {
        std::string line = Quote(FProbe) + " " + std::to_string(bits);
        for (const auto& command : commands) line += " " + Quote(command);
        ProbeRun run;
        std::FILE* pipe = popen(line.c_str(), "r");
        if (pipe == nullptr) return run;
        char chunk[4096];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) run.Output.append(chunk, got);
        const int status = pclose(pipe);
        run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }

    [[nodiscard]] std::string LogPath() const { return FDir.Path() + "/VOXA_DebugLog.txt"; }
    [[nodiscard]] bool LogExists() const { return fs::exists(LogPath()); }
    [[nodiscard]] std::string RawLog() const {
        const auto bytes = ReadFileBytes(LogPath());
        return std::string(bytes.begin(), bytes.end());
    }
    // The log's lines in UTF-8, each checked to end in CR LF.
    [[nodiscard]] std::vector<std::string> LogLines() const {
        const std::string text = FromShiftJis(RawLog());
        std::vector<std::string> lines;
        size_t start = 0;
        while (start < text.size()) {
            const size_t end = text.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "line without CR LF";
            if (end == std::string::npos) break;
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    static constexpr int kHalt = 1;
    static constexpr int kLog = 2;
    static constexpr int kExcept = 4;

    TempDir FDir;
    std::string FProbe;
};

TEST_F(VOXALog, FirstReportOfARunTruncatesAndLinesAreNumberedFromOne) {
    ASSERT_EQ(Run(kLog, {"report:old one", "report:old two", "report:old three"}).ExitCode, 0);
    ASSERT_EQ(LogLines().size(), 3u);
    ASSERT_EQ(Run(kLog, {"report:first", "check:88780078:second"}).ExitCode, 0);
    const std::vector<std::string> expected{"debug#00001 ... first",
                                            "debug#00002 ... second(Error Code(88780078))"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(VOXALog, JapaneseMessagesAreWrittenInShiftJis) {
    ASSERT_EQ(Run(kLog, {"channel:8"}).ExitCode, 0);
    const std::string raw = RawLog();
    EXPECT_NE(raw.find("\x81\x60"), std::string::npos);      // the wave dash of "0～7"
    EXPECT_EQ(raw.find("\xEF\xBD\x9E"), std::string::npos);  // not UTF-8
    ASSERT_EQ(LogLines().size(), 1u);
    EXPECT_EQ(LogLines()[0],
              "debug#00001 ... チャンネル番号8は無効です、0～7の範囲で指定してください");
}

TEST_F(VOXALog, InvalidChannelIndicesNameTheRangeWithoutAnErrorCode) {
    const ProbeRun run = Run(kLog, {"channel:-1", "channel:7"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, "channel:none\nchannel:found\n");
    const std::vector<std::string> expected{
        "debug#00001 ... チャンネル番号-1は無効です、0～7の範囲で指定してください"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(VOXALog, LogThenExceptionWithTheSameTextAndNoHalt) {
    const ProbeRun run = Run(kLog | kExcept, {"check:FFFFFFFF:失敗", "report:after"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, "EVOXA:失敗(Error Code(FFFFFFFF))\nEVOXA:after\n");
    const std::vector<std::string> expected{"debug#00001 ... 失敗(Error Code(FFFFFFFF))",
                                            "debug#00002 ... after"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(VOXALog, HaltWithLogWritesTheLineThenEndsTheProcess) {
    const ProbeRun run =
        Run(kHalt | kLog, {"check:1:一次バッファの作成に失敗しました", "report:never"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_EQ(run.Output, "");
    const std::vector<std::string> expected{
        "debug#00001 ... 一次バッファの作成に失敗しました(Error Code(1))"};
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(VOXALog, HaltAloneLeavesNoTrace) {
    const ProbeRun run = Run(kHalt, {"check:80004005:x", "report:never"});
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_FALSE(LogExists());
}

TEST_F(VOXALog, ExceptionWinsOverHalt) {
    const ProbeRun run = Run(kHalt | kExcept, {"check:2:x"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, "EVOXA:x(Error Code(2))\n");
    EXPECT_FALSE(LogExists());
}

TEST_F(VOXALog, NoOptionsIgnoresFailuresAndGoesOn) {
    const ProbeRun run = Run(0, {"check:88780078:x", "channel:9", "report:y"});
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Output, "result:88780078\nchannel:none\n");
    EXPECT_FALSE(LogExists());
}

TEST_F(VOXALog, AnExtraDeviceReferenceIsReportedAtDestruction) {
    ASSERT_EQ(Run(kLog, {"release-device"}).ExitCode, 0);
    const std::vector<std::string> expected{
        "debug#00001 ... DirectSoundの解放に失敗しました(Error Code(1))"};
    EXPECT_EQ(LogLines(), expected);
    EXPECT_EQ(Run(kHalt, {"release-device", "report:never"}).ExitCode, 1);
}

TEST_F(VOXALog, ReportsFromManyThreadsKeepWholeLinesAndOneNumbering) {
    constexpr int kThreads = 4;
    constexpr int kLines = 50;
    ASSERT_EQ(
        Run(kLog, {"threads:" + std::to_string(kThreads) + ":" + std::to_string(kLines)}).ExitCode,
        0);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> nextLine(kThreads, 0);
    for (size_t i = 0; i < lines.size(); ++i) {
        char number[40];
        std::snprintf(number, sizeof number, "debug#%05zu ... ", i + 1);
        ASSERT_EQ(lines[i].rfind(number, 0), 0u) << lines[i];
        int thread = -1;
        int line = -1;
        ASSERT_EQ(
            std::sscanf(lines[i].c_str() + std::strlen(number), "スレッド%d 行%d", &thread, &line),
            2)
            << lines[i];
        ASSERT_GE(thread, 0);
        ASSERT_LT(thread, kThreads);
        EXPECT_EQ(line, nextLine[thread]++) << "each thread's lines stay in its order";
    }
}

TEST_F(VOXALog, AnUnwritableLogIsAnInputOutputError) {
    fs::create_directory(LogPath());  // a folder where the file should go
    const ProbeRun run = Run(kLog, {"report:x"});
    EXPECT_EQ(run.ExitCode, 3);
    EXPECT_EQ(run.Output.rfind("EInOutError:", 0), 0u) << run.Output;
}

}  // namespace
}  // namespace oggmix::test
