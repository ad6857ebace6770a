#pragma once

#include <QString>
#include <QStringView>

#include <memory>

class QSettings;

namespace lumen
{

// One remembered value: its section, its key and the text a reader gets when
// the key was never written. Sections and keys are the names users of older
// installations already have in their settings, so they never change.
struct SettingKey {
    // Defaults that depend on the user or the installation.
    enum class Default { Text, SaveFolder, ApplicationFolder };
    QStringView section;
    QStringView key;
    QStringView defaultText;
    Default computedDefault = Default::Text;
};

namespace setting
{

inline constexpr QStringView SettingsSection = u"设置";
inline constexpr QStringView DownloadSection = u"下载";
inline constexpr QStringView SameNameSection = u"专利下载";
inline constexpr QStringView CopyMoveSection = u"Form_Copy_Move";
// The download window's own name; its geometry is filed under it.
inline constexpr QStringView DownloadWindowName = u"fFileDownload";

// 1 = single connection, 2 = several connections.
inline constexpr SettingKey DownloadMethod{SettingsSection, u"下载方式", u"2"};
// List index 0..5 of the thread-count box (items "1".."6").
inline constexpr SettingKey ThreadIndex{DownloadSection, u"线程", u"2"};
// The trimmed caption of the chosen same-name option.
inline constexpr SettingKey SameNamePolicy{SameNameSection, u"重复文件名设置", u"重命名"};
inline constexpr SettingKey ProxyAddress{SettingsSection, u"代理服务器网址", u""};
inline constexpr SettingKey ProxyPort{SettingsSection, u"代理服务器端口", u""};
inline constexpr SettingKey ProxyEnabled{SettingsSection, u"代理服务器有效", u"0"};
// Largest file to download, in megabytes.
inline constexpr SettingKey MaxFileSizeMB{SettingsSection, u"文件最大值", u"10"};
// 1: ask for the save folder when pages are harvested; 0: when a manual
// analysis starts.
inline constexpr SettingKey PromptForSaveFolder{SettingsSection, u"提取网页信息时提示下载保存路径",
                                                u"1"};
// Defaults: defaultSaveFolder() and defaultCopyMoveFolder().
inline constexpr SettingKey SaveFolder{SettingsSection, u"下载文件保存路径", u"",
                                       SettingKey::Default::SaveFolder};
inline constexpr SettingKey CopyMoveFolder{CopyMoveSection, u"目的文件夹", u"",
                                           SettingKey::Default::ApplicationFolder};
// 1: the download and harvest lists are journaled and offered back after a
// run that ended with work left; 0: every run starts with empty lists.
inline constexpr SettingKey KeepListsJournal{SettingsSection, u"记录下载列表", u"1"};
inline constexpr SettingKey CopyMoveOption{CopyMoveSection, u"OpIndex", u"4"};

// Geometry keys; their section is the window's name.
inline constexpr QStringView ResolutionKey = u"分辨率";
inline constexpr QStringView TopKey = u"上";
inline constexpr QStringView LeftKey = u"左";
inline constexpr QStringView WidthKey = u"宽";
inline constexpr QStringView HeightKey = u"高";
inline constexpr QStringView ResolutionDefault = u"000";
inline constexpr QStringView TopDefault = u"100";
inline constexpr QStringView LeftDefault = u"100";
inline constexpr QStringView WidthDefault = u"15000";
inline constexpr QStringView HeightDefault = u"10000";

} // namespace setting

// The user's home folder followed by "12345/": where files go until the user
// picks a folder.
QString defaultSaveFolder();
// The default text of a key.
QString defaultText(const SettingKey &key);
// The application's own folder, ending in "/".
QString defaultCopyMoveFolder();

// The per-user settings: text values addressed by section and key, kept in
// an INI file named after the application title. Nothing is enumerated or
// deleted; every write reaches the disk before write() returns (QSettings
// replaces the file atomically, so a crash never leaves half a file).
class SettingsStore
{
public:
    // Opens (or will create) the INI file at iniPath.
    explicit SettingsStore(const QString &iniPath);
    ~SettingsStore();
    SettingsStore(const SettingsStore &) = delete;
    SettingsStore &operator=(const SettingsStore &) = delete;

    // The per-user configuration folder's "<application title>.ini".
    static QString defaultPath();

    QString path() const;

    // The stored text, or defaultValue when the key was never written.
    QString read(QStringView section, QStringView key, const QString &defaultValue = {}) const;
    // With the key's own default.
    QString read(const SettingKey &key) const;

    // Replaces the value and writes the file at once. False when the file
    // could not be written (the value is still seen by later reads of this
    // run).
    bool write(QStringView section, QStringView key, const QString &value);
    bool write(const SettingKey &key, const QString &value);

private:
    std::unique_ptr<QSettings> m_settings;
};

} // namespace lumen
