#pragma once

#include <QString>

#include <optional>

namespace lumen
{

class RegistryStore;

// Where the embedded browser's rendering mode is filed for each program.
// The value has no effect on this platform's browser engine; it is kept
// where it has always been written so that tools that read it find it.
inline const QString BrowserEmulationKey = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Internet Explorer\\MAIN\\FeatureControl\\"
    "FEATURE_BROWSER_EMULATION");

// The number for a version name ("IE10", "IE9", "IE8", "IE7", compared
// upper-cased) with or without forced standards mode; nullopt for any other
// name.
std::optional<qint32> browserEmulationValue(const QString &version, bool forceStandards);

// `SetBrowserEmulation`: files the wanted number under the program's
// "<name>.exe" value, in the 32-bit view and, on a 64-bit system, also in the
// 64-bit view, writing only where the number is missing or different. An
// unknown version name removes the value instead. Failures are silent.
void setBrowserEmulation(RegistryStore &store, const QString &programName, const QString &osBitness,
                         const QString &version, bool forceStandards);

// The start-up's setting: IE10 standards mode (10001), with the key made
// first the way the browser component's installation would have made it.
void applyStartupBrowserEmulation(RegistryStore &store, const QString &programName,
                                  const QString &osBitness);

} // namespace lumen
