// DisplayLoad.cpp: what the test application's live display costs. Opens the main window on
// the current Qt platform, loads up to two files into its channels as a drop would, lets it
// run for a number of seconds and prints the CPU time of the UI thread (which runs the
// display; user and system time) and of the whole process, read from /proc, as a share of one
// core.
//   oggmix_display_load [--seconds S] [FILE [FILE]]
// Run it with OGGMIX_AUDIO=null so that the music plays in real time without a device.
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Unit1.h"

namespace {

constexpr double kDefaultSeconds = 20.0;

struct CpuTime {
    double UserSec = 0.0;
    double SystemSec = 0.0;
};

// User and system CPU seconds from a /proc stat file; zero when it cannot be read.
CpuTime ReadCpuTime(const std::string& statPath) {
    std::ifstream file(statPath);
    std::string line;
    if (!std::getline(file, line)) return {};
    // The command name may hold blanks; the fields after it are plain numbers.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return {};
    std::istringstream fields(line.substr(close + 2));
    std::string skipped;
    for (int field = 3; field < 14; ++field) fields >> skipped;  // state .. cmajflt
    long userTicks = 0, systemTicks = 0;
    fields >> userTicks >> systemTicks;
    const auto ticksPerSec = static_cast<double>(sysconf(_SC_CLK_TCK));
    return {static_cast<double>(userTicks) / ticksPerSec,
            static_cast<double>(systemTicks) / ticksPerSec};
}

CpuTime operator-(const CpuTime& a, const CpuTime& b) {
    return {a.UserSec - b.UserSec, a.SystemSec - b.SystemSec};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    double seconds = kDefaultSeconds;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::stod(argv[++i]);
        } else if (arg.rfind("--", 0) == 0) {
            std::fprintf(stderr, "usage: oggmix_display_load [--seconds S] [FILE [FILE]]\n");
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    // The window makes its own folder the current directory: resolve the names first.
    for (std::string& file : files)
        file = QFileInfo(QString::fromStdString(file)).absoluteFilePath().toStdString();

    oggmix::TForm1 form;
    form.show();
    form.WMDropFiles(files);

    const std::string uiThreadStat = "/proc/self/task/" + std::to_string(gettid()) + "/stat";
    const CpuTime uiStart = ReadCpuTime(uiThreadStat);
    const CpuTime processStart = ReadCpuTime("/proc/self/stat");
    const auto wallStart = std::chrono::steady_clock::now();
    QTimer::singleShot(std::chrono::milliseconds(static_cast<long>(seconds * 1000.0)),
                       Qt::PreciseTimer, &application, &QApplication::quit);
    QApplication::exec();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const CpuTime ui = ReadCpuTime(uiThreadStat) - uiStart;
    const CpuTime process = ReadCpuTime("/proc/self/stat") - processStart;
    const double uiSec = ui.UserSec + ui.SystemSec;

    std::printf(
        "files %zu, %.1f s on %s: UI thread %.1f %% of a core (user %.1f, system %.1f; "
        "%.2f ms per %d ms refresh), process %.1f %%\n",
        files.size(), wall, qPrintable(QApplication::platformName()), 100.0 * uiSec / wall,
        100.0 * ui.UserSec / wall, 100.0 * ui.SystemSec / wall,
        1000.0 * uiSec / (wall * 1000.0 / oggmix::kIdleIntervalMs), oggmix::kIdleIntervalMs,
        100.0 * (process.UserSec + process.SystemSec) / wall);
    return 0;
}
