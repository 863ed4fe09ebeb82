#pragma once

#include <QString>

// The tool's own hold on a device while a link has it open: a second program
// of ours that reaches the same device is turned away as busy, whatever the
// driver enforces. On Linux the device's lock file already does that (the
// link checks it and QSerialPort takes it), so the hold is always granted;
// on Windows, where drivers differ and nothing writes lock files, it is a
// named system object that exists while one of our processes holds the
// device and goes away with that process, even when it crashes.
class PortHold {
public:
    PortHold() = default;
    ~PortHold() { release(); }
    PortHold(const PortHold &) = delete;
    PortHold &operator=(const PortHold &) = delete;

    // Holds `device` (a real device name, as DeviceFacts gives it) after
    // letting go of any earlier one. False if another holds it.
    [[nodiscard]] bool take(const QString &device);
    // Lets go; nothing happens if nothing is held.
    void release();

private:
    void *m_handle = nullptr;
};
