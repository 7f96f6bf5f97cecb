// The driver's start-up and end with 1,000, 10,000 and 65,535 sensors in "tagpump.ini": the time
// from creating the main window to its being shown with the settings loaded (goal: 65,535
// sensors within 2 s), and the time of SaveSettings (one atomic replacement of the file; budget
// 50 ms for 1,000 sensors). For comparison, 1,000 keys written one profile write at a time.
// Last line: the larger of the two ratios of time to goal (below 1 is good).
#include "ascii_chanclass.h"
#include "main_u.h"
#include "prgcontrol.h"

#include "platform/messages.h"
#include "platform/profile.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int Sensors = 1000;
constexpr double SaveBudgetMs = 50;
constexpr int MostSensors = 65535;
constexpr double LargestStartGoalMs = 2000;

void writeSettings(const QString &path, int sensors)
{
    QByteArray ini = "[Common Adjusts]\r\nObjectName=S\r\n[Sensors]\r\n";
    for (int n = 1; n <= sensors; ++n)
        ini += QStringLiteral("Sensor%1=|%2|%3|%4|%5|\r\n").arg(n).arg(n % 250 + 1).arg(n % 7 + 1).arg(n % 5 + 1).arg(300 + n).toLatin1();
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(ini);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    platform::ApplicationWindow window;
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    QDir::setCurrent(dir.path());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/config")));

    struct Figures {
        int sensors;
        double startMs, saveMs;
    };
    std::vector<Figures> figures;
    for (const int sensors : {Sensors, 10000, MostSensors}) {
        std::vector<double> startMs, saveMs;
        for (int round = 0; round < 3; ++round) {
            writeSettings(dir.path() + QStringLiteral("/tagpump.ini"), sensors);
            QElapsedTimer clock;
            clock.start();
            auto *main = new TMain;
            main->InitializeDriver({QStringLiteral("/s")}, QStringLiteral("tagpump-bench-%1").arg(QCoreApplication::applicationPid()));
            main->show();
            if (!QTest::qWaitForWindowExposed(main) || PrgControl->SensorCount() != sensors) {
                std::fprintf(stderr, "driver_settings_bench: the driver did not start with %d sensors\n", sensors);
                return 1;
            }
            startMs.push_back(clock.nsecsElapsed() / 1e6);

            clock.restart();
            PrgControl->SaveSettings();
            saveMs.push_back(clock.nsecsElapsed() / 1e6);
            delete main;
        }
        figures.push_back({sensors, median(startMs), median(saveMs)});
    }

    // The same 1000 sensor keys written one profile write at a time, as before the batch.
    QElapsedTimer clock;
    clock.start();
    platform::ProfileFile ini(dir.path() + QStringLiteral("/perkey.ini"));
    for (int n = 1; n <= Sensors; ++n)
        ini.writeString(QStringLiteral("Sensors"), QStringLiteral("Sensor%1").arg(n), QStringLiteral("|1|1|1|500|"));
    const double perKeyMs = clock.nsecsElapsed() / 1e6;
    QDir::setCurrent(before);

    std::printf("driver_settings_bench: medians of 3 rounds\n");
    for (const Figures &f : figures)
        std::printf("%6d sensors: start-up to a shown main window %8.1f ms, SaveSettings %7.1f ms\n", f.sensors, f.startMs, f.saveMs);
    std::printf("the same %d sensor keys one profile write each: %.1f ms\n", Sensors, perKeyMs);
    const double saveRatio = figures.front().saveMs / SaveBudgetMs;
    const double startRatio = figures.back().startMs / LargestStartGoalMs;
    std::printf("SaveSettings of %d sensors against %.0f ms: %.2f; start-up with %d sensors against %.0f ms: %.2f\n",
                Sensors, SaveBudgetMs, saveRatio, MostSensors, LargestStartGoalMs, startRatio);
    std::printf("ratio %.2f\n", std::max(saveRatio, startRatio));
    return 0;
}
