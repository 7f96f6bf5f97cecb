#pragma once
// The driver's controller on a simulated line of instruments, without the main window: an owner
// widget, the application window that carries the value and status messages, a private runtime
// folder for the DDE service, and a record of every reading shown, taken on the thread that
// polled.
#include "ascii_chanclass.h"
#include "prgcontrol.h"
#include "sim/line_sim.h"
#include "variableset.h"
#include "tests/dde/dde_test_support.h"

#include "platform/messages.h"

#include <QWidget>

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

struct Reading {
    std::uint16_t number;
    QString text;
    std::chrono::steady_clock::time_point at;
};

class DriverLineFixture {
public:
    explicit DriverLineFixture(const std::map<std::uint8_t, int> &instruments = {{1, 8}, {2, 4}})
        : sim(instruments)
    {
        useOwnRuntimeDir();
        window.addHook([](platform::Message &message) {
            PublishMessage(message);
            return false;
        });
        control = std::make_unique<TProgramControl>(&owner, window.handle());
        control->PortName = QString::fromStdString(sim.portPath());
        control->BaudR = 19200;
        control->TimeOut3 = 100;
        control->ApplyPortConfig();
        QObject::connect(control.get(), &TProgramControl::ReadingShown, control.get(),
                         [this](std::uint16_t number, const QString &text) {
                             std::lock_guard lock(mutex);
                             readings.push_back({number, text, std::chrono::steady_clock::now()});
                         },
                         Qt::DirectConnection);
    }

    // Replaces the sensor list by channels (instrument, channel, step) in order.
    void setSensors(const std::vector<std::array<int, 3>> &sensors)
    {
        control->FreeSensors();
        for (const auto &[instrument, channel, step] : sensors) {
            TASCIIChannel *added = control->AddSensor();
            added->DeviceNumber = std::uint8_t(instrument);
            added->ChannelNumber = std::uint8_t(channel);
            added->Step = std::uint16_t(step);
        }
        clearReadings();
    }

    std::vector<Reading> takeReadings()
    {
        std::lock_guard lock(mutex);
        return readings;
    }
    void clearReadings()
    {
        std::lock_guard lock(mutex);
        readings.clear();
    }

    platform::ApplicationWindow window;
    QWidget owner;
    sim::LineSim sim;
    std::unique_ptr<TProgramControl> control;

private:
    std::mutex mutex;
    std::vector<Reading> readings;
};
