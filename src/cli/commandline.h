#pragma once

#include "cli/clirequest.h"
#include "link/devicefacts.h"

#include <QByteArrayList>
#include <QStringList>

#include <variant>

// The command line was not understood or asks for something impossible:
// the program says why and exits 2.
struct UsageError {
    QString text;
};

// --help or --version: the text to print on stdout before exiting 0.
struct PlainAnswer {
    QString text;
};

using ParsedCommandLine = std::variant<CliRequest, PlainAnswer, UsageError>;

// Turns the arguments (the program's name first) into a request, an answer
// or a usage error; touches nothing. `raw` are the same arguments as bytes,
// so that an image name that is not UTF-8 is opened by its own bytes.
// `naming` is how ports are named where the program runs (a refusal of
// -p 7 suggests COM7 on Windows).
ParsedCommandLine parseCommandLine(const QStringList &arguments, const QByteArrayList &raw = {},
                                   PortNaming naming = DeviceFacts::portNaming());
