#pragma once

#include <QtGlobal>

#include <chrono>

// How long bytes take to cross the line: 10 bits a byte (start bit, 8 data
// bits, stop bit) at the line's speed. A display answers a message only once
// the whole of it has crossed.
namespace LineTiming {

constexpr std::chrono::microseconds wireTime(qsizetype bytes, qint32 baud)
{
    return std::chrono::microseconds(baud > 0 ? qint64(bytes) * 10 * 1'000'000 / baud : 0);
}

// How far the two ends' clocks may disagree about a wire time, in percent.
constexpr int kClockTolerancePercent = 10;

// Bytes that arrive sooner than this after a message of `wire` wire time was
// handed to the line cannot be its answer: the display's clock may be fast.
constexpr std::chrono::microseconds earliestAnswer(std::chrono::microseconds wire)
{
    return wire * (100 - kClockTolerancePercent) / 100;
}

// When a message of `wire` wire time has surely crossed, however slow the
// display's clock.
constexpr std::chrono::microseconds surelyCrossed(std::chrono::microseconds wire)
{
    return wire * (100 + kClockTolerancePercent) / 100;
}

}  // namespace LineTiming
