#include "settings/settings_store.h"

#include "engine/app_title.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

namespace lumen
{

QString defaultSaveFolder()
{
    return QDir::homePath() + QStringLiteral("/12345/");
}

QString defaultCopyMoveFolder()
{
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/')))
        dir += QLatin1Char('/');
    return dir;
}

QString defaultText(const SettingKey &key)
{
    switch (key.computedDefault) {
    case SettingKey::Default::SaveFolder:
        return defaultSaveFolder();
    case SettingKey::Default::ApplicationFolder:
        return defaultCopyMoveFolder();
    case SettingKey::Default::Text:
        break;
    }
    return key.defaultText.toString();
}

SettingsStore::SettingsStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{
}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + ApplicationTitle + QStringLiteral(".ini");
}

QString SettingsStore::path() const
{
    return m_settings->fileName();
}

static QString settingPath(QStringView section, QStringView key)
{
    return section.toString() + QLatin1Char('/') + key.toString();
}

QString SettingsStore::read(QStringView section, QStringView key, const QString &defaultValue) const
{
    const QVariant v = m_settings->value(settingPath(section, key));
    if (!v.isValid())
        return defaultValue;
    // A hand-edited value with an unquoted comma reads back as a list; the
    // user meant one text.
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QStringLiteral(", "));
    return v.toString();
}

QString SettingsStore::read(const SettingKey &key) const
{
    return read(key.section, key.key, defaultText(key));
}

bool SettingsStore::write(QStringView section, QStringView key, const QString &value)
{
    m_settings->setValue(settingPath(section, key), value);
    m_settings->sync();
    return m_settings->status() == QSettings::NoError;
}

bool SettingsStore::write(const SettingKey &key, const QString &value)
{
    return write(key.section, key.key, value);
}

} // namespace lumen
