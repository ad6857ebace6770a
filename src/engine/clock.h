#pragma once

#include <QtGlobal>

namespace lumen
{

// Time as the system reasons about it. Every tick, settle, wait and stall
// limit reads time through this interface so that tests can advance a fake
// clock instead of sleeping.
class Clock
{
public:
    virtual ~Clock() = default;
    // Seconds since local midnight, with fractions (the pause between
    // downloads and the end-of-run times are kept in this unit).
    virtual double secondsSinceMidnight() const = 0;
    // A steadily increasing millisecond count, unaffected by wall-clock jumps.
    virtual qint64 monotonicMs() const = 0;
};

class SystemClock final : public Clock
{
public:
    double secondsSinceMidnight() const override;
    qint64 monotonicMs() const override;
    // The clock shared by everything that is not handed another one.
    static Clock &instance();
};

} // namespace lumen
