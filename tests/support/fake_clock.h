#pragma once

#include "engine/clock.h"

namespace lumen::test
{

// A clock that moves only when a test says so.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(double secondsSinceMidnight = 36000.0) : m_seconds(secondsSinceMidnight) {}
    double secondsSinceMidnight() const override { return m_seconds; }
    qint64 monotonicMs() const override { return m_ms; }

    void advanceMs(qint64 ms)
    {
        m_ms += ms;
        m_seconds += ms / 1000.0;
        while (m_seconds >= 86400.0)
            m_seconds -= 86400.0;
    }
    void advanceSeconds(double s) { advanceMs(qint64(s * 1000.0)); }
    void setSecondsSinceMidnight(double s) { m_seconds = s; }

private:
    double m_seconds;
    qint64 m_ms = 0;
};

} // namespace lumen::test
