#pragma once
// The frame that every one-shot device operation shares: the transfers, the relay commands and
// the indicator steps.
//
// RunTransfer asks the question, prepares (the form taken into the model, a file chosen), takes
// the link lock, sets the exchange state, opens the port, does the work, reports while the lock
// is still held, and on every path cleans up: gauge hidden, port closed, exchange state idle,
// lock released. It runs on a worker: the window thread never waits for the link lock.
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class TDevice;

// A failure of an operation that is not a link command (a file), with the user's text.
struct TOperationError {
    QString Message;
};

// What one operation does within the common frame.
struct TTransfer {
    QString Question;    // asked first (confirmation, Yes and No); empty: nothing is asked
    QString Completion;  // the report of success
    // Before the lock. False ends the operation without exchange or report (declined or
    // cancelled); may throw TConvertError or TOperationError.
    std::function<bool()> Prepare;
    // With the link open: the error text, or nothing for success.
    std::function<std::optional<QString>()> Work;
};

// True for an answer that lets an operation go on: Yes, or OK when the question was not shown.
bool Accepted(std::uint16_t answer);

// The text of the device's last (failing) link result.
QString LinkError(TDevice &device);

// 0 done; -1 declined, cancelled or failed (reported).
std::int32_t RunTransfer(TDevice &device, const TTransfer &transfer);
