#pragma once
// What the tests of the driver's main window share: the application window, a working folder of
// its own for every test (the driver reads and writes "tagpump.ini" in the current folder), the
// simulated line, the main window itself and the texts of the message boxes answered.
#include "main_u.h"
#include "sim/line_sim.h"

#include "platform/messages.h"
#include "tests/support/file_bytes.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct DriverMainFixture {
    std::unique_ptr<platform::ApplicationWindow> appWindow;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<sim::LineSim> line;
    std::unique_ptr<TMain> main;
    QStringList messages;  // texts of the message boxes answered

    // For init(): a new application window, working folder and line; false when the folder
    // cannot be made current.
    bool setUp()
    {
        appWindow = std::make_unique<platform::ApplicationWindow>();
        folder = std::make_unique<QTemporaryDir>();
        if (!folder->isValid() || !QDir::setCurrent(folder->path()))
            return false;
        line = std::make_unique<sim::LineSim>();
        messages.clear();
        return true;
    }
    // The settings file in the working folder, and the text put there as the settings.
    QString iniPath() const { return folder->filePath(QStringLiteral("tagpump.ini")); }
    bool writeIni(const QString &text) const { return putFile(iniPath(), text.toLocal8Bit()); }
    QString linePort() const { return QString::fromStdString(line->portPath()); }

    // For cleanup(): the window first (it ends a run on the line), then the line.
    void tearDown()
    {
        main.reset();
        line.reset();
        appWindow.reset();
    }
};
