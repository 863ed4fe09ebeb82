#pragma once

#include <QtGlobal>

#include <chrono>

// The line's pace as the display lives it: 10 bits a byte at the speed the
// tool set. Bytes that arrive together still reach a real display one after
// another, so a message has crossed one wire time after its first byte came.
class LinePace {
public:
    using Time = std::chrono::microseconds;

    // 0: not known; then nothing takes any time.
    void setBaud(int baud) { m_baud = baud; }
    int baud() const { return m_baud; }

    Time wireTime(qsizetype bytes) const
    {
        return m_baud > 0 ? Time(qRound64(double(bytes) * 10.0 * 1e6 / m_baud)) : Time(0);
    }

    // `bytes` arrived at `at`; returns when the last of them has crossed.
    Time arrived(qsizetype bytes, Time at)
    {
        m_freeAt = std::max(at, m_freeAt) + wireTime(bytes);
        return m_freeAt;
    }

private:
    int m_baud = 0;
    Time m_freeAt{0};
};
