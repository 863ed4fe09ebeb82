#pragma once

#include "commands/messagesink.h"
#include "isp/imagepath.h"

#include <QString>

#include <optional>

// Everything the download needs from a person: the window implements it with
// a file dialog, message boxes, the progress bar and the three buttons; the
// command line with a terminal; tests with a recorder.
class Operator : public MessageSink {
public:
    // The firmware file to send, or nullopt when the operator cancels.
    virtual std::optional<ImagePath> chooseFirmwareFile() = 0;
    virtual void setProgressMaximum(int maximum) = 0;
    virtual void setProgressValue(int value) = 0;
    // Command1, Command2, Command3, in that order.
    virtual void setCommandsEnabled(bool enabled) = 0;
};
