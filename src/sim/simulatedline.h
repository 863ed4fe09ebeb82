#pragma once

#include <QString>

#include <memory>

// A simulated display for --simulate, on platforms with pseudo-terminals
// (Linux): the window and the command line reach it like any serial port.
class SimulatedLine {
public:
    virtual ~SimulatedLine() = default;

    // The device to open; the display behind it answers as long as this lives.
    virtual QString devicePath() const = 0;

    // Starts one; nullptr with *why set where none can be had.
    static std::unique_ptr<SimulatedLine> start(QString *why);
};
