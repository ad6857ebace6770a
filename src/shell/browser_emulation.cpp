#include "shell/browser_emulation.h"

#include "shell/registry_store.h"

namespace lumen
{

std::optional<qint32> browserEmulationValue(const QString &version, bool forceStandards)
{
    const QString name = version.toUpper();
    if (name == QLatin1String("IE10"))
        return forceStandards ? 10001 : 10000;
    if (name == QLatin1String("IE9"))
        return forceStandards ? 9999 : 9000;
    if (name == QLatin1String("IE8"))
        return forceStandards ? 8888 : 8000;
    if (name == QLatin1String("IE7"))
        return 7000;
    return std::nullopt;
}

void setBrowserEmulation(RegistryStore &store, const QString &programName, const QString &osBitness,
                         const QString &version, bool forceStandards)
{
    const QString valueName = programName + QStringLiteral(".exe");
    const bool both = osBitness == QLatin1String("64");
    const auto wanted = browserEmulationValue(version, forceStandards);
    if (!wanted) {
        store.removeValue(BrowserEmulationKey, valueName, QStringLiteral("32"));
        if (both)
            store.removeValue(BrowserEmulationKey, valueName, QStringLiteral("64"));
        return;
    }
    const QString number = QString::number(*wanted);
    if (store.readNumber(BrowserEmulationKey, valueName, QStringLiteral("32")) != number)
        store.writeNumber(BrowserEmulationKey, valueName, *wanted, QStringLiteral("32"));
    if (both && store.readNumber(BrowserEmulationKey, valueName, QStringLiteral("64")) != number)
        store.writeNumber(BrowserEmulationKey, valueName, *wanted, QStringLiteral("64"));
}

void applyStartupBrowserEmulation(RegistryStore &store, const QString &programName,
                                  const QString &osBitness)
{
    store.createKey(BrowserEmulationKey, QStringLiteral("32"));
    if (osBitness == QLatin1String("64"))
        store.createKey(BrowserEmulationKey, QStringLiteral("64"));
    setBrowserEmulation(store, programName, osBitness, QStringLiteral("IE10"), true);
}

} // namespace lumen
