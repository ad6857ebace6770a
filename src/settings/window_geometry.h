#pragma once

#include <QList>
#include <QSize>
#include <QString>
#include <QStringView>

#include <utility>

namespace lumen
{

class SettingsStore;

// Window positions are stored in twips, 15 to a pixel.
inline constexpr int TwipsPerPixel = 15;
inline constexpr int MinWindowWidthTwips = 4000;
inline constexpr int MinWindowHeightTwips = 3000;
inline constexpr int pixelsToTwips(int px)
{
    return px * TwipsPerPixel;
}
inline constexpr int twipsToPixels(int twips)
{
    return twips / TwipsPerPixel;
}

// "<width>*<height>" of the screen in pixels, e.g. "1920*1080". A saved
// position is only used again on a screen of the same size.
QString resolutionText(int widthPx, int heightPx);
QString resolutionText(const QSize &screenPx);

// A window as it is about to close. Positions in twips.
struct WindowGeometryState {
    bool maximised = false;
    double top = 0;
    double left = 0;
    double width = 0;
    double height = 0;
};

// How to show a window when it opens. Positions in twips; they mean nothing
// when maximised is true.
struct WindowPlacement {
    bool maximised = true;
    int top = 0;
    int left = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowPlacement &) const = default;
};

// The stored texts, with the defaults of absent keys already applied.
struct StoredGeometry {
    QString resolution;
    QString top;
    QString left;
    QString width;
    QString height;
};

// A different screen size, the first run and a window last closed maximised
// all open maximised. Otherwise the stored position, with a negative top or
// left taken as 0 and a width or height raised to the minimum; a value that
// is no number counts as 0 before those rules.
WindowPlacement decideRestoreGeometry(const QString &currentResolution,
                                      const StoredGeometry &stored);

// The keys and texts to write, in writing order. A maximised window writes
// only "0*0" as its resolution and keeps its older position.
QList<std::pair<QString, QString>> geometryWrites(const WindowGeometryState &state,
                                                  const QString &currentResolution);

StoredGeometry readGeometry(const SettingsStore &store, QStringView windowName);
WindowPlacement restoreGeometry(const SettingsStore &store, QStringView windowName,
                                const QString &currentResolution);
void saveGeometry(SettingsStore &store, QStringView windowName, const WindowGeometryState &state,
                  const QString &currentResolution);

} // namespace lumen
