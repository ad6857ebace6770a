#include "settings/window_geometry.h"

#include "settings/app_settings.h"
#include "settings/settings_store.h"

namespace lumen
{

QString resolutionText(int widthPx, int heightPx)
{
    return QString::number(widthPx) + QLatin1Char('*') + QString::number(heightPx);
}

QString resolutionText(const QSize &screenPx)
{
    return resolutionText(screenPx.width(), screenPx.height());
}

// Marks a window that was closed maximised; it never equals a real screen.
static const QString MaximisedResolution = QStringLiteral("0*0");

WindowPlacement decideRestoreGeometry(const QString &currentResolution,
                                      const StoredGeometry &stored)
{
    WindowPlacement p;
    if (stored.resolution != currentResolution)
        return p;
    p.maximised = false;
    if (const auto v = settingToInt32(stored.top))
        p.top = *v;
    p.top = std::max(p.top, 0);
    if (const auto v = settingToInt32(stored.left))
        p.left = *v;
    p.left = std::max(p.left, 0);
    if (const auto v = settingToInt32(stored.width))
        p.width = *v;
    p.width = std::max(p.width, MinWindowWidthTwips);
    if (const auto v = settingToInt32(stored.height))
        p.height = *v;
    p.height = std::max(p.height, MinWindowHeightTwips);
    return p;
}

// Positions are kept with single precision, as they always were.
static QString twipText(double v)
{
    return QString::number(double(float(v)), 'g', 7);
}

QList<std::pair<QString, QString>> geometryWrites(const WindowGeometryState &state,
                                                  const QString &currentResolution)
{
    using namespace setting;
    if (state.maximised)
        return {{ResolutionKey.toString(), MaximisedResolution}};
    return {{ResolutionKey.toString(), currentResolution},
            {TopKey.toString(), twipText(state.top)},
            {LeftKey.toString(), twipText(state.left)},
            {WidthKey.toString(), twipText(state.width)},
            {HeightKey.toString(), twipText(state.height)}};
}

StoredGeometry readGeometry(const SettingsStore &store, QStringView windowName)
{
    using namespace setting;
    return {store.read(windowName, ResolutionKey, ResolutionDefault.toString()),
            store.read(windowName, TopKey, TopDefault.toString()),
            store.read(windowName, LeftKey, LeftDefault.toString()),
            store.read(windowName, WidthKey, WidthDefault.toString()),
            store.read(windowName, HeightKey, HeightDefault.toString())};
}

WindowPlacement restoreGeometry(const SettingsStore &store, QStringView windowName,
                                const QString &currentResolution)
{
    return decideRestoreGeometry(currentResolution, readGeometry(store, windowName));
}

void saveGeometry(SettingsStore &store, QStringView windowName, const WindowGeometryState &state,
                  const QString &currentResolution)
{
    for (const auto &[key, value] : geometryWrites(state, currentResolution))
        store.write(windowName, key, value);
}

} // namespace lumen
