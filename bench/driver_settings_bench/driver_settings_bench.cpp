// The driver's start-up and end with 1000 sensors in "tagpump.ini": the time from creating the
// main window to its being shown with the settings loaded, and the time of SaveSettings (one
// atomic replacement of the file), against a budget of 50 ms. For comparison, the same keys
// written one profile write at a time. Last line: ratio of the save time to the budget.
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

void writeSettings(const QString &path)
{
    QByteArray ini = "[Common Adjusts]\r\nObjectName=S\r\n[Sensors]\r\n";
    for (int n = 1; n <= Sensors; ++n)
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

    std::vector<double> startMs, saveMs;
    for (int round = 0; round < 5; ++round) {
        writeSettings(dir.path() + QStringLiteral("/tagpump.ini"));
        QElapsedTimer clock;
        clock.start();
        auto *main = new TMain;
        main->InitializeDriver({QStringLiteral("/s")}, QStringLiteral("tagpump-bench-%1").arg(QCoreApplication::applicationPid()));
        main->show();
        if (!QTest::qWaitForWindowExposed(main) || PrgControl->SensorCount() != Sensors) {
            std::fprintf(stderr, "driver_settings_bench: the driver did not start with %d sensors\n", Sensors);
            return 1;
        }
        startMs.push_back(clock.nsecsElapsed() / 1e6);

        clock.restart();
        PrgControl->SaveSettings();
        saveMs.push_back(clock.nsecsElapsed() / 1e6);
        delete main;
    }

    // The same 1000 sensor keys written one profile write at a time, as before the batch.
    QElapsedTimer clock;
    clock.start();
    platform::ProfileFile ini(dir.path() + QStringLiteral("/perkey.ini"));
    for (int n = 1; n <= Sensors; ++n)
        ini.writeString(QStringLiteral("Sensors"), QStringLiteral("Sensor%1").arg(n), QStringLiteral("|1|1|1|500|"));
    const double perKeyMs = clock.nsecsElapsed() / 1e6;
    QDir::setCurrent(before);

    std::printf("driver_settings_bench: %d sensors, median of %zu rounds\n", Sensors, startMs.size());
    std::printf("start-up to a shown main window: %.1f ms\n", median(startMs));
    std::printf("SaveSettings (one atomic replacement): %.1f ms (budget %.0f ms)\n", median(saveMs), SaveBudgetMs);
    std::printf("the same sensor keys one profile write each: %.1f ms\n", perKeyMs);
    std::printf("ratio %.2f\n", median(saveMs) / SaveBudgetMs);
    return 0;
}
