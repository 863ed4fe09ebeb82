#include "sim/simulatedline.h"

std::unique_ptr<SimulatedLine> SimulatedLine::start(QString *why)
{
    *why = QStringLiteral("--simulate needs a pseudo-terminal, which only the Linux build has");
    return nullptr;
}
