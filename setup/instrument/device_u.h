#pragma once
// TDevice: the setup program's model of the one instrument it talks to.
//
// It holds the instrument's four memory blocks as packed little-endian byte images, the EEPROM
// map that places them, the 64 KiB EEPROM image of the EEPROM copies, the statistics of the
// inspection measurement, and the link handle and text buffer through which every command of the
// link library ex_com passes.
//
// Results: the block operations return 0, or -1 for a block type other than 0 to 3 (or a text
// or buffer of the wrong size). The link commands return the result of their last ex_com call
// (0 for success, otherwise the library's code, whose text GetErrorText gives) and leave it in
// LastError; a read leaves 0 in its output when it fails. The first failing call ends a sequence.
//
// Conversion errors: a text that should be a number and is not (a reply of ReadEEPROMByte or
// ReadRAMByte, a pair of HexToBlock, the baud text of OpenPort), or a byte reply outside 0..255,
// throws TConvertError. It is never
// a link failure: LastError keeps the result of the last library call. The operation that called
// (a worker's transfer, a project load) catches it around its whole body, the same way it ends on
// a failing command: close the port, release the link lock, set the exchange state back to idle,
// then show e.Message(). Nothing escapes a worker thread uncaught:
//
//     try {
//         ... OpenPort, commands, ClosePort ...
//     } catch (const TConvertError &e) {
//         device.ClosePort();  // and the rest of the operation's clean-up
//         report(e.Message());
//     }
//
// Two halves: TDevice is one class so that each operation keeps its own name (TakeParams,
// CalibrateCurrent5), but its members are defined on both sides of the program's split.
// setup/instrument/device_u.cpp defines what needs only the blocks and the link: the creation of
// the link, the blocks with their text and CRC, the port and the single link commands (the groups
// "Blocks" and "Link" below, GetErrorText to ToInteger included). Every member of the later groups
// asks the technician, shows on the form or runs as a worker under the link lock; each group is
// defined in the file of setup/window/ that its heading names (device_form, device_transfers,
// device_calibration, device_monitor, device_inspection, device_ports, device_linkcheck,
// device_search, device_relays, device_indicators, device_project). Among them are a few single
// commands kept beside the operations that use them: ReadADC (transfers; used by the calibrations
// and monitors), ShowCalibrationMode (calibration), Identify (link check), LightSegment and
// RestoreIndicators (indicators; these two also set the test picture on the form). The window
// members reach the window through FForm, the main window that SetForm gives: its form
// (Ui::TfMain) for the fields and its TProgramControl for messages, exchange state and gauge. This
// half knows TfMain only by the declaration below and includes no header of the window half, so it
// builds and is tested without the window; what the calibration procedures compute is in
// calibration_math.h here, as functions of numbers.
//
// Threads: TDevice has no lock of its own and touches no widget. The link commands run on the
// thread of the operation that calls them while it holds the link lock ("COMPortMutex"), which
// also keeps LinkBuffer, LastError and the instrument's current EEPROM/RAM address to one
// operation at a time. The window thread reads and writes the blocks without the lock (project
// and calibration files).
#include "device_blocks.h"

#include <QString>
#include <QStringView>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <stdexcept>

class TfMain;
class QWidget;
namespace platform {
class ProfileBatch;
}

// A text that was to be read as a number and is not one. Text() is the text as it came;
// Message() the user's message naming it.
// A form field's error also names the field (SetPlace), so the user knows which one to mend.
class TConvertError : public std::runtime_error {
public:
    // FloatRange: a number, but beyond what the instrument's 32-bit float holds. ByteRange: an
    // integer where a byte (0 to 255) is expected, but outside that range.
    enum TKind { Integer, Hexadecimal, Float, FloatRange, ByteRange };
    TConvertError(const QString &text, TKind kind);
    const QString &Text() const { return FText; }
    TKind Kind() const { return FKind; }
    const QString &Place() const { return FPlace; }
    // The field's place in words, and the field itself (window thread only) to show it.
    void SetPlace(const QString &place, const QWidget *field = nullptr)
    {
        FPlace = place;
        FField = field;
    }
    const QWidget *Field() const { return FField; }
    QString Message() const;

private:
    QString FText;
    TKind FKind;
    QString FPlace;
    const QWidget *FField = nullptr;
};

// Where OpenPort() takes the line settings from: the texts of the link group's baud list
// (TS0CB1, e.g. "9600") and port list (TS0CB0, e.g. "COM1" or "/dev/ttyUSB0").
// Both are called on the thread that runs OpenPort(): usually a worker holding the link lock,
// and the window thread for the single-step indicator commands. The main window therefore must
// not answer them with a blocking call into the window thread (that would deadlock on the
// window thread itself); it keeps a copy of the two texts, updated on the window thread when the
// lists change, and hands it out under a mutex. An unset function gives the empty text.
struct TLinkSettings {
    std::function<QString()> BaudText;
    std::function<QString()> PortText;
    // Where the baud text comes from, in the user's words, and its field: a baud text that is
    // not a number names them (a hand-edited project can leave the baud list empty).
    QString BaudPlace;
    const QWidget *BaudField = nullptr;
};

class TDevice {
public:
    // The only instrument type this program serves: the device type of every link command, the
    // error-text kind of GetErrorText, and the reply Identify must give.
    static constexpr std::uint8_t DeviceTypeCode = 9;

    // Block types.
    enum : int { CRCBlockType = 0, CalibBlockType = 1, ParamsBlockType = 2, ADCBlockType = 3 };

    // Link command codes (the command argument of EX_Exchange).
    enum TCommand : std::uint8_t {
        cmdIdentify = 0,
        cmdSetEEPROMAddress = 2,
        cmdReadEEPROMByte = 3,
        cmdWriteEEPROMByte = 4,
        cmdSetRAMAddress = 5,
        cmdReadRAMByte = 6,
        cmdSetIndicatorPosition = 7,
        cmdWriteIndicatorByte = 8,
        cmdSetRelayStates = 9,
        cmdFinishWrite = 11,
        cmdResetIndicators = 13,
    };

    // FinishWrite's second result that counts as success.
    static constexpr std::int32_t FinishWriteDone = -22;
    // The result of a link command refused because the program is ending and the calling worker
    // only reads (StopReading); not one of the link library's codes.
    static constexpr std::int32_t ReadingStopped = -1000;

    // EEPROM map of the instrument (2048 bytes): CRC header, then the calibration and parameter
    // blocks back to back; the ADC block is RAM from address 0.
    static constexpr std::uint16_t CRCAddress = 0;
    static constexpr std::uint16_t CalibAddress = 6;
    static constexpr std::uint16_t ParamsAddress = 34;
    static constexpr std::uint16_t CRCBlockLength = 6;
    static constexpr std::uint16_t CalibBlockLength = TCalibration::Size;
    static constexpr std::uint16_t ParamsBlockLength = TParams::Size;
    static constexpr std::uint16_t ADCBlockLength = TADCData::Size;
    static_assert(CalibBlockLength == 28 && ParamsBlockLength == 53 && ADCBlockLength == 17);
    static_assert(CalibAddress == CRCAddress + CRCBlockLength);
    static_assert(ParamsAddress == CalibAddress + CalibBlockLength);

    // Blocks are handed between operations in buffers of this size, the bound of any block or
    // image the program handles.
    static constexpr std::size_t BlockBufferSize = 65536;
    using TBlockBuffer = std::array<std::uint8_t, BlockBufferSize>;

    static constexpr std::size_t LinkBufferSize = 255;

    // Creates the link (EX_CreateCOM); the blocks are zero.
    TDevice();
    // Releases the link (EX_FreeCOM).
    ~TDevice();
    TDevice(const TDevice &) = delete;
    TDevice &operator=(const TDevice &) = delete;

    // --- Fields ---
    std::int32_t LastError = 0;          // result of the last link call
    std::uint8_t Segment = 255;          // segment last lit by the indicator test, 255 none
    TBlockBuffer EEPROMImage{};          // byte i = EEPROM address i, for EEPROM copies
    // The four blocks. TCalibration::FromBytes(CalibBlock), TParams::FromBytes(ParamsBlock) and
    // TADCData::FromBytes(ADCBlock) read their fields; ToBytes writes them back.
    std::array<std::uint8_t, CRCBlockLength> CRCBlock{};
    std::array<std::uint8_t, CalibBlockLength> CalibBlock{};
    std::array<std::uint8_t, ParamsBlockLength> ParamsBlock{};
    std::array<std::uint8_t, ADCBlockLength> ADCBlock{};
    std::uint32_t LinkHandle = 0;        // from EX_CreateCOM, taken as it comes
    std::uint8_t DeviceAddress = 0;      // network address of every link command
    // Argument text in, reply text out of every link command; zero-terminated.
    std::array<char, LinkBufferSize> LinkBuffer{};
    float CurrentValue = 0;              // inspection measurement: last value,
    double MinValue = 99999;             // minimum,
    double MaxValue = -99999;            // maximum
    double AvgValue = 0;                 // and moving average

    // --- Blocks ---
    // Zeroes the block.
    std::int32_t ClearBlock(int type);
    // Clears the whole buffer and length, then copies the block to the buffer's start and sets
    // length to the block's length. -1 (buffer and length cleared) for another type or a buffer
    // shorter than the block.
    std::int32_t GetBlock(int type, std::span<std::uint8_t> buffer, std::uint16_t &length) const;
    // Copies the first (block length) bytes of the buffer into the block. -1 for another type or
    // a buffer shorter than the block (the block stays as it was).
    std::int32_t SetBlock(int type, std::span<const std::uint8_t> buffer);
    // The block as two uppercase hexadecimal digits a byte, high digit first, cut at maxLength
    // characters. Text empty and -1 for another type.
    std::int32_t BlockToHex(int type, QString &text, int maxLength = 255) const;
    // The block from such a text (digits in either case). -1 and the block unchanged when the
    // text is not exactly twice the block's length or the type is another. A pair that is not two
    // hexadecimal digits throws TConvertError naming the pair; the block is then unchanged too.
    std::int32_t HexToBlock(int type, QStringView text);
    // The CRC (EX_ArrayCRCWord) of the block; 0 when it cannot be computed (another type, or a
    // failing library call). Leaves LastError alone.
    std::uint16_t BlockCRC(int type) const;
    // The same of any bytes.
    static std::uint16_t BytesCRC(std::span<const std::uint8_t> bytes);

    // --- Link ---
    // The source of OpenPort()'s line settings (see TLinkSettings).
    void SetLinkSettings(TLinkSettings settings);
    // EX_SetBaudRate with the link group's baud text read as an integer, then EX_OpenCOM with its
    // port text; a failing baud rate ends it before the open. A baud text that is not an integer
    // throws TConvertError, naming the baud field, before any library call.
    std::int32_t OpenPort();
    // The same with given texts (the device search opens its own port and baud this way).
    std::int32_t OpenPort(const QString &baudText, const QString &portText);
    // The user's message for an OpenPort that failed: the port's name and the library's text.
    QString OpenPortErrorText();
    std::int32_t ClosePort();
    // The program is ending: from now on every link command of a worker that only reads
    // (TExchange::ReadsOnly) fails with ReadingStopped without reaching the line, and a device
    // search under way is stopped; workers that write go on. Any thread.
    void StopReading();
    // True on a worker that only reads once StopReading has been called; LastError is then
    // ReadingStopped. For steps that do not go through the single commands (the search).
    bool RefusesReading();

    // One command each; the argument goes as unsigned decimal text.
    std::int32_t SetEEPROMAddress(std::uint16_t address);
    std::int32_t WriteEEPROMByte(std::uint8_t value);
    std::int32_t SetRAMAddress(std::uint8_t address);
    std::int32_t SetIndicatorPosition(std::uint8_t position);
    std::int32_t WriteIndicatorByte(std::uint8_t pattern);
    // Bit 0 relay 1, bit 1 relay 2, bit 2 relay 3; 0 hands the relays back to the instrument.
    std::int32_t SetRelayStates(std::uint8_t mask);
    // Reads the byte at the instrument's current address, which then advances. The command
    // sends whatever LinkBuffer holds from the previous command. The reply is read as a decimal
    // integer and its low 8 bits kept (300 gives 44); a reply that is not an integer throws
    // TConvertError (value 0).
    std::int32_t ReadEEPROMByte(std::uint8_t &value);
    std::int32_t ReadRAMByte(std::uint8_t &value);
    // Ends an EEPROM write sequence; FinishWriteDone (-22) counts as success like 0.
    std::int32_t FinishWrite();
    // Hands the indicators back to the measurements.
    std::int32_t ResetIndicators();

    // The library's text for a result code. LastError becomes the lookup's own result; when the
    // lookup fails the text is that of the lookup's failure. Always some text.
    QString GetErrorText(std::int32_t code);
    // Index 0 the measured value, 1 to 3 the setpoints (value 0 on failure).
    std::int32_t GetDeviceValue(std::uint8_t index, double &value);
    // The float at RAM address 4 * index + 1: index 0 the measured value, 1 to 3 the channel
    // voltages of the ADC block (value 0 on failure).
    std::int32_t ReadRAMFloat(std::uint8_t index, float &value);
    // The stored CRC word of the calibration block (which 1, EEPROM 0-1) or of the parameter
    // block (which 2, EEPROM 2-3), low byte first. -2 without any command for another which.
    // WriteCRC does not finish the write sequence (FinishWrite is the caller's).
    std::int32_t ReadCRC(int which, std::uint16_t &crc);
    std::int32_t WriteCRC(int which, std::uint16_t crc);

    // A decimal integer (optional '-', digits, nothing else, 32-bit) or TConvertError.
    static std::int32_t ToInteger(QStringView text);

    // --- Model and form (device_form.cpp) ---
    // The main window whose tabs show the model and whose controller carries the operations'
    // messages, exchange state and gauge; set once by the window before any worker runs.
    void SetForm(TfMain *form) { FForm = form; }
    TfMain *Form() const { return FForm; }
    // Model to form: the parameter block on tabs TS1 and TS2 (relay matrix included), the
    // calibration block on TS3; floats as fixed text with three decimals. 0; -1 without a form.
    std::int32_t ShowParams();
    // Form to model, the reverse. A float field that is not a number throws TConvertError
    // naming its text; the fields taken before it keep their new values. 0; -1 without a form.
    // Each is one call into the window thread, whichever thread runs it.
    std::int32_t TakeParams();

    // --- Block transfers and EEPROM copies (device_transfers.cpp) ---
    // Worker operations: question, link lock, exchange state, port, bytes with progress, CRC
    // check, report, clean-up. 0 done; -1 declined, cancelled or failed (reported).
    std::int32_t ReadAllSettings();
    std::int32_t WriteAllSettings();
    std::int32_t ReadCalibration();
    std::int32_t WriteCalibration();
    std::int32_t ReadParams();
    std::int32_t WriteParams();
    std::int32_t ReadRelayParams();
    std::int32_t WriteRelayParams();
    std::int32_t SaveEEPROMToFile();
    std::int32_t LoadEEPROMFromFile();
    // The ADC block from instrument RAM 0 (17 bytes). For callers that hold the link: no lock,
    // no messages. 0, or the failing link result with the ADC block untouched.
    std::int32_t ReadADC();

    // --- Calibration procedures (device_calibration.cpp) ---
    // Worker operations: each sets the instrument to the sensor and range its reference needs,
    // reads the ADC block N times, T seconds apart, and puts the mean coefficient into the
    // model and on the form (the three-wire one: Uref and Rref from two resistors). They report
    // through program messages only. 0 done; -1 declined, cancelled or failed.
    std::int32_t CalibrateCurrent5();
    std::int32_t CalibrateCurrent20();
    std::int32_t CalibrateVoltage();
    std::int32_t CalibrateResistance3W();
    std::int32_t CalibrateRL();
    std::int32_t CalibrateRc();
    // The procedure's mode code (1 to 6) on the instrument's display: the link result; a mode
    // out of range sends nothing and returns LastError. The caller holds the link.
    std::int32_t ShowCalibrationMode(std::uint8_t mode);

    // --- Monitoring loops and the inspection (device_monitor.cpp, device_inspection.cpp) ---
    // Worker operations that read until their button stops them (RunFlag). 0 when stopped,
    // -1 when the port could not be opened (or the inspection was declined).
    std::int32_t MonitorCalibration();
    std::int32_t MonitorValues();
    std::int32_t MonitorADC();
    std::int32_t InspectionMeasure();
    // Window thread: the inspection's maximum and minimum start again; also during a run.
    void ResetStatistics();

    // --- Port lists (device_ports.cpp) ---
    // Window thread, once at start-up: the port lists of the link and search groups (TS0CB0,
    // TS0CB2) from the ports present, each with its first item chosen ("COM1" and "COM2" when
    // none can be listed), and "9600" in the link's baud list. Sets no project state. The
    // result of the last library call, also left in LastError.
    std::int32_t SearchPorts();

    // --- Link check and device search (device_linkcheck.cpp, device_search.cpp) ---
    // Workers; every message of the link check is forced, the search's are not. 0 done; -1
    // declined or failed (reported).
    // Identify at the link group's settings, then (asked) all settings read with the
    // confirmations option off for that read.
    std::int32_t CheckLink();
    // Identify over the search group's address range, port and baud rate; the found addresses go
    // to TS0LB0 as the link library reports them. Stopped from the window thread by
    // EX_StopSearchAvailableDevices on LinkHandle.
    std::int32_t SearchDevices();
    // Command 0: the instrument's reply text (its device type in decimal); empty on failure.
    std::int32_t Identify(QString &reply);

    // --- Relay and indicator tests (device_relays.cpp, device_indicators.cpp) ---
    // Workers, in the frame of the transfers (question, lock, port, report, clean-up). 0 done;
    // -1 declined or failed (reported).
    std::int32_t ForceRelays();          // command 9 with the mask of TS2ChB0..TS2ChB2
    std::int32_t ReleaseRelays();        // command 9 with 0
    std::int32_t AllIndicatorsOn();      // nine positions 255; picture 2
    std::int32_t AllIndicatorsOff();     // nine positions 0; picture 1
    std::int32_t NextSegment();          // Segment (Segment + 1) mod 8, lit
    std::int32_t PrevSegment();          // Segment 7 from 0, else (Segment - 1) mod 8, lit
    std::int32_t FinishIndicatorTest();  // RestoreIndicators; Segment 255
    // The loop of TS4Button5: the next segment every 500 ms until stopped; 0.
    std::int32_t CyclicIndicatorTest();
    // For callers that hold the link (no lock, no message): position 0, then the pattern with
    // only bit segment set on all nine positions; on success TS4I0 shows picture 3 + segment.
    // 0, or the failing result.
    std::int32_t LightSegment(std::uint8_t segment);
    // The same: command 13, the indicators back to the measurements; on success picture 0.
    std::int32_t RestoreIndicators();

    // --- Project files and calibration files (device_project.cpp) ---
    // Window thread, no lock. Each file is written in one replacement; a refused write throws
    // platform::ProfileWriteError and leaves the file as it was; a form field that is not a
    // number throws TConvertError from TakeParams; a chosen file that is a pipe or a device
    // throws platform::UserFileError.
    // Section "Device" of a project: TakeParams, then the four blocks as hexadecimal text. 0.
    std::int32_t SaveToProject(const QString &fileName);
    // The same as part of a larger save, made when the caller commits the batch.
    std::int32_t SaveToProject(platform::ProfileBatch &ini);
    // Section "Device" into the blocks (absent keys: zero blocks), then ShowParams; 0. The first
    // value of the wrong length ends it with -1: the blocks before it are loaded, the rest and
    // the form stay as they were. A value that is not hexadecimal throws TConvertError the same way.
    std::int32_t LoadFromProject(const QString &fileName);
    // Asks for a file and writes the seven coefficients of the form into its section
    // "CALIBRATION"; 0, also when cancelled.
    std::int32_t SaveCalibrationFile();
    // Asks for a file and reads its coefficients into the calibration block (a key that is
    // absent or not a number reads as 0), then ShowParams; 0, also when cancelled.
    std::int32_t LoadCalibrationFile();
    // The coefficients as a calibration file holds them, and back.
    static void WriteCalibrationFile(const QString &fileName, const TCalibration &calibration);
    static TCalibration ReadCalibrationFile(const QString &fileName);
    // A number in the files' general form: up to 15 significant digits, fixed unless it is below
    // 0.00001 or has more than 15 integer digits ("0.100000001490116", "1E-6", "1.5E20").
    static QString FloatToText(double value);

private:
    QString FOpenedPortText;  // the port name of the last OpenPort
    std::span<std::uint8_t> Block(int type);
    std::span<const std::uint8_t> Block(int type) const;
    std::int32_t Exchange(TCommand command);
    std::int32_t Command(TCommand command, unsigned argument);
    std::int32_t Command(TCommand command);
    std::int32_t ReadByte(TCommand command, std::uint8_t &value);
    std::int32_t CRCWordAddress(int which, std::uint16_t &address);

    TLinkSettings FLinkSettings;
    TfMain *FForm = nullptr;
    std::atomic<bool> FStopReading{false};
};
