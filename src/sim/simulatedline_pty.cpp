#include "sim/simulatedline.h"

#include "sim/simulateddisplay.h"

namespace {

class PtyLine : public SimulatedLine {
public:
    QString devicePath() const override { return m_display.devicePath(); }
    SimulatedDisplay m_display;
};

}  // namespace

std::unique_ptr<SimulatedLine> SimulatedLine::start(QString *why)
{
    auto line = std::make_unique<PtyLine>();
    if (!line->m_display.isValid()) {
        *why = line->m_display.error();
        return nullptr;
    }
    return line;
}
