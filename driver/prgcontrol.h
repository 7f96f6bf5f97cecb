#pragma once
// TProgramControl: the one controller of the data driver.
//
// It holds the settings (named after their keys in "tagpump.ini"), the driver state with its
// texts, the DDE server objects, the port handle and the sensor list. There is exactly one; the
// start-up routine creates it and `PrgControl` reaches it from everywhere in the driver.
//
// Threads. The polling thread reads the settings and the sensor list, which change only while no
// run goes on, and calls SetState(2), SetResultText and WriteLog. It never touches a widget or a
// DDE item: what the window shows travels through the signals below, which reach the main window
// queued, in order; the DDE items are set only by PublishValue/PublishStatus on the window thread,
// from the two registered messages. The state and result texts are guarded, since both threads
// read and write them.
//
// The settings file, the snapshot string, autorun and the log (LoadSettings, SaveSettings,
// SettingsToString, SettingsFromString, ApplyPortConfig, FreeSensors, WriteLog) are defined in
// prgcontrol_settings.cpp and driver_log.cpp.
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <cstdint>

class TASCIIChannel;
class QWidget;

namespace platform {
class DdeClient;
class DdeItem;
class DdeServer;
class DdeTopic;
} // namespace platform

// The driver's states.
enum TDriverState : std::uint8_t { dsIdle = 0, dsSettings = 1, dsPolling = 2 };

// One entry of the sensor list: "Sensor<n>" and the channel with number n (may be null).
struct TSensorEntry {
    QString Name;
    TASCIIChannel *Channel = nullptr;
};

class TProgramControl : public QObject {
    Q_OBJECT
public:
    // Creates the DDE server objects (not yet serving: see Serve), the port object, and sensor 1
    // with the channel defaults; publishes state 0. `owner` is the main window: it owns the DDE
    // objects, and the settings place it by "Left"/"Top". `ownerHandle` is the application
    // window's handle given to the port library.
    TProgramControl(QWidget *owner, std::uint32_t ownerHandle);
    ~TProgramControl() override;  // frees the sensors; the DDE objects go with it

    // Serves the DDE service. False, with the reason in *error, when the service cannot be
    // served; another copy of the driver serving it is told apart by *alreadyRunning.
    bool Serve(const QString &service, QString *error, bool *alreadyRunning);

    std::uint8_t GetState() const;
    QString GetStateText() const;
    QString GetResultText() const;
    bool GetHints() const;

    void SetState(std::uint8_t newState);
    void SetStateText(const QString &text);
    void SetResultText(const QString &text);
    void SetHints(bool hints);

    // The window thread's handling of the two registered messages: a reading of sensor n (a
    // sensor not in the list changes no item) and a status 0, 1 or 2.
    void PublishValue(std::uint16_t number, const QString &text);
    void PublishStatus(std::uint8_t status);

    // A new channel at the end of the sensor list, numbered after its place, named "Sensor<n>",
    // with the item prefix ObjectName, ServerConv and PortHandle; it publishes "0" at once.
    // Window thread only, and not during a polling run (RunActive).
    TASCIIChannel *AddSensor();
    int SensorCount() const { return int(SensorList.size()); }
    TASCIIChannel *Sensor(int index) const;  // 0-based; null when out of range or empty

    // ErrorValue as published and stored: shortest general form, system decimal separator.
    QString ErrorValueText() const;
    QString TopicName() const;

    // ---- defined with remote management (management.cpp); window thread ----
    // Links ManageConv to the controlling application's watched item; true when the link is up.
    bool ConnectManagement();
    // A change of the watched item: "1..." starts polling, "0..." stops it.
    void ManagementItemChange(const QString &text);

    // ---- defined with the settings file (prgcontrol_settings.cpp) ----
    bool LoadSettings();
    // False when the file or the autorun entry could not be written; the reason has already
    // gone to the user (a box, or standard error when Unattended). The callers go on as they
    // would after a good save: the settings are in force either way, and at the end the program
    // ends anyway. The result is there for the end by a signal, which says a failed save once more.
    bool SaveSettings();
    QString SettingsToString();
    bool SettingsFromString(const QString &text);
    bool ApplyPortConfig();
    // Why comport refused the port setting held here (which key, and why), for the warning.
    QString PortSettingRefusal() const;
    // BaudR as the port takes it: a value outside 16 bits gives 0, a rate the port refuses,
    // rather than a wrapped number that might be a rate it offers.
    std::uint16_t PortBaudRate() const;
    // Frees every sensor; false, freeing nothing, during a polling run (RunActive).
    bool FreeSensors();
    // A setting found at load that the driver cannot use as it stands: said once, as a line in
    // the log and a warning box over the main window (window thread).
    void WarnAtLoad(const QString &text);
    // ---- defined with the log (driver_log.cpp); called from both threads ----
    bool WriteLog(const QString &source, const QString &message);
    // ---- defined with the polling run (comexchange.cpp); polling thread ----
    // The port's result of a poll that used it (a comport result code). A change between a
    // usable port and a reason why it cannot be used is said once: a log line and
    // PortProblemChanged. Each run starts from a usable port.
    void NotePortResult(std::int32_t code);

signals:
    // What the main window shows; emitted on whichever thread changes it, delivered in order.
    void StateChanged(std::uint8_t state);            // enables and disables the buttons
    void StateTextChanged(const QString &text);       // status panel 1 and the tray hint
    void ResultTextChanged(const QString &text);      // status panel 2
    void HintsChanged(bool hints);                    // show-hint of the main window's controls
    void ReadingShown(std::uint16_t number, const QString &text);  // readouts ST1 and ST2
    void PortProblemChanged(const QString &text);     // why the port cannot be used; empty: it can

public:
    QWidget *const Owner;

private:
    std::uint8_t State = 0;
    QString StateText;
    QString ResultText;
    bool Hints = false;
    mutable QMutex TextLock;  // State, StateText and ResultText

public:
    QString WorkingDir;                      // current directory at creation, with a closing "/"
    std::uint32_t SavedPriorityClass = 0;    // the process's priority at creation

    platform::DdeServer *Server = nullptr;   // the service; owned by Owner
    platform::DdeTopic *ServerConv = nullptr;             // topic, named TopicName ("ORVANT")
    platform::DdeItem *ChannelItem = nullptr;             // CHANNEL
    platform::DdeItem *ValueItem = nullptr;               // VALUE
    platform::DdeItem *ChannelValueItem = nullptr;        // CHANNELVALUE
    platform::DdeItem *StatusItem = nullptr;              // TAGPUMPSTATUS
    platform::DdeClient *ManageConv = nullptr;            // "DdeCCManage"; owned by Owner
    QString ManageItem = QStringLiteral("DdeCIManage");   // the watched item's component name

    // A polling run was started and has not ended yet (TCOMExchange::Start to its end handler):
    // from the start on, the polling thread may read the sensor list. Window thread only.
    bool RunActive = false;
    // The program ends with nobody to answer (a signal): errors of the settings file go to
    // standard error instead of a message box.
    bool Unattended = false;

    std::uint8_t ActivePageNumber = 0;
    QString ObjectName = QStringLiteral("S");
    std::uint16_t SensorTimeInterval = 500;
    std::uint16_t SensorCircleInterval = 1000;
    bool ConnectionScheme = false;
    bool AutoRunProgram = false;
    bool AutoRunExchange = false;
    bool ErrorState = false;
    // Two defaults, both right: 10000 is the controller's own value from creation until the
    // settings are read (the settings window's range is -10000 to 10000), and 1000 is the
    // settings file's default for a missing or unreadable key (the table of settings,
    // settings_table.cpp). LoadSettings runs at every start-up, so a running driver
    // publishes 1000 unless the file says otherwise.
    double ErrorValue = 10000;
    bool IndividualTimeOutState = false;
    QList<TSensorEntry> SensorList;
    bool UseDdeManagement = false;
    bool Logging = false;
    QString LogFileDIR;                      // WorkingDir + "Logs"
    QString DdeService;
    QString DdeTopic;
    QString DdeItem;
    bool Connected = false;
    std::uint32_t PortHandle = 0;
    QString PortName = QStringLiteral("COM1");
    // As the user wrote it, also outside 16 bits, so that a refusal names it and the file keeps
    // it; the port gets PortBaudRate.
    int BaudR = 9600;
    std::uint16_t TimeOut1 = 100;
    std::uint16_t TimeOut2 = 10;
    std::uint16_t TimeOut3 = 1000;

    // The sensor numbers are 16 bits wide: a load makes at most this many sensors.
    static constexpr int MaxSensors = 65535;
    // The window's position as the settings file held it, and where the load put the window
    // instead when that lay off every screen; the file keeps the stored one until the window moves.
    struct {
        QPoint stored, placed;
        bool offScreen = false;
    } KeptPosition;

    // The port's last result as NotePortResult saw it; polling thread only during a run.
    std::int32_t PortResult = 0;

    // Serialises WriteLog between the window thread and the polling thread.
    QMutex LogLock;
};

// The one controller; null before start-up and after shutdown.
extern TProgramControl *PrgControl;

// Shows the settings window beside the main window, not modal (defined with the settings
// window). Reached only while the driver is idle and was started with "/s"; refused from the
// moment a run is asked for until it has ended.
void OpenSetupWindow();
// Closes the settings window when it is open, without its question: edits not applied are
// dropped as by "No". For the end on a signal.
void CloseSetupWindowUnasked();
