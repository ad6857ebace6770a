#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace lumen
{

// `Module_REG`: keys addressed by one text path such as
// "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows NT\CurrentVersion", each in
// a 32-bit and a 64-bit view, holding text and 32-bit number values. This
// platform has no system registry, so the keys live in an INI file of the
// user's own; the paths, views and the "Error" answers stay as callers know
// them.
//
// A store file that cannot be read, or holds lines that make no sense, never
// stops the program: what can be read is kept, the rest is ignored and
// dropped at the next write. Every write replaces the file whole and
// atomically.
class RegistryStore
{
public:
    enum class Root {
        None,
        ClassesRoot,
        CurrentUser,
        LocalMachine,
        Users,
        PerformanceData,
        CurrentConfig,
        DynData,
    };

    // What a read gives when the key or value cannot be read.
    static const QString ErrorText; // "Error"
    // A text value, its terminating NUL included, must fit this many bytes.
    static constexpr int TextBufferBytes = 255;
    // Larger store files are not ours to read.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;

    // Reads the store at iniPath (a missing file is an empty store).
    // osBitness ("64" or "32") is the view an empty view argument means;
    // when empty, the system's own bitness is asked the first time it is
    // needed.
    explicit RegistryStore(const QString &iniPath, const QString &osBitness = QString());

    // The per-user configuration folder's "<application title>.registry.ini".
    static QString defaultPath();
    QString path() const { return m_path; }
    // Whether the file was there but could not be read whole.
    bool wasDamaged() const { return m_damaged; }

    // `RegRootHandle`: the root for a name, trimmed and compared upper-cased.
    static Root rootHandle(const QString &name);
    // `RegSplitPath`: the root of a path, leaving the sub-key path in `path`.
    // A path that does not start with "HKEY_" or ends with "\" gives None
    // and stays as it was.
    static Root splitPath(QString &path);

    // `RegReadText`: the text (cut at a NUL, blanks trimmed), or "Error".
    QString readText(const QString &path, const QString &valueName,
                     const QString &view = QString()) const;
    // `RegReadNumber`: the number as signed decimal text, or "Error".
    QString readNumber(const QString &path, const QString &valueName,
                       const QString &view = QString()) const;
    // `RegWriteNumber`: true once written. A missing key is not created.
    bool writeNumber(const QString &path, const QString &valueName, qint32 number,
                     const QString &view = QString());
    // `RegRemoveValue`: true whenever the key exists, value or not.
    bool removeValue(const QString &path, const QString &valueName,
                     const QString &view = QString());

    // What the system's own components would have created: the key and its
    // parents, in the given view. Writes never create keys.
    bool createKey(const QString &path, const QString &view = QString());
    bool writeText(const QString &path, const QString &valueName, const QString &text,
                   const QString &view = QString());
    bool keyExists(const QString &path, const QString &view = QString()) const;

private:
    struct Value {
        QString name;
        bool isNumber = false;
        qint32 number = 0;
        QString text;
    };
    struct Key {
        QString path; // "<view>\<ROOT>\<sub-key>" as first written
        QList<Value> values;
    };

    // "32" or "64" for a view argument.
    QString resolveView(const QString &view) const;
    // The lookup name of a key, or nullopt for a path that names no key.
    std::optional<QString> keyId(const QString &path, const QString &view) const;
    const Value *findValue(const QString &path, const QString &view,
                           const QString &valueName) const;
    void load();
    bool save() const;

    QString m_path;
    mutable QString m_osBitness;
    QHash<QString, Key> m_keys; // by lower-cased "<view>\<ROOT>\<sub-key>"
    bool m_damaged = false;
};

} // namespace lumen
