#include "engine/clock.h"

#include <QElapsedTimer>
#include <QTime>

namespace lumen
{

double SystemClock::secondsSinceMidnight() const
{
    return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

qint64 SystemClock::monotonicMs() const
{
    static const QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.elapsed();
}

Clock &SystemClock::instance()
{
    static SystemClock clock;
    return clock;
}

} // namespace lumen
