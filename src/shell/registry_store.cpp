#include "shell/registry_store.h"

#include "engine/app_title.h"
#include "shell/system_description.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace lumen
{

const QString RegistryStore::ErrorText = QStringLiteral("Error");

namespace
{

struct RootName {
    QLatin1StringView name;
    RegistryStore::Root root;
};

constexpr RootName RootNames[] = {
    {QLatin1StringView("HKEY_CLASSES_ROOT"), RegistryStore::Root::ClassesRoot},
    {QLatin1StringView("HKEY_CURRENT_USER"), RegistryStore::Root::CurrentUser},
    {QLatin1StringView("HKEY_LOCAL_MACHINE"), RegistryStore::Root::LocalMachine},
    {QLatin1StringView("HKEY_USERS"), RegistryStore::Root::Users},
    {QLatin1StringView("HKEY_PERFORMANCE_DATA"), RegistryStore::Root::PerformanceData},
    {QLatin1StringView("HKEY_CURRENT_CONFIG"), RegistryStore::Root::CurrentConfig},
    {QLatin1StringView("HKEY_DYN_DATA"), RegistryStore::Root::DynData},
};

QString rootName(RegistryStore::Root root)
{
    for (const RootName &r : RootNames) {
        if (r.root == root)
            return QString(r.name);
    }
    return QString();
}

// The file keeps names and texts on one line each: '%', control characters
// and the characters that end a name or a section are written as %XX of
// their UTF-8 bytes.
QString encode(const QString &text, QStringView alsoEscape)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'%' || c.unicode() < 0x20 || c.unicode() == 0x7f || alsoEscape.contains(c)) {
            for (const char byte : QString(c).toUtf8())
                out += QStringLiteral("%%1").arg(uchar(byte), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

QString decode(QStringView text)
{
    return QString::fromUtf8(QByteArray::fromPercentEncoding(text.toUtf8()));
}

// Blanks only, as the values have always been trimmed.
QString trimBlanks(QString text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

RegistryStore::RegistryStore(const QString &iniPath, const QString &osBitness)
    : m_path(iniPath), m_osBitness(osBitness)
{
    load();
}

QString RegistryStore::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + ApplicationTitle + QStringLiteral(".registry.ini");
}

RegistryStore::Root RegistryStore::rootHandle(const QString &name)
{
    const QString wanted = name.trimmed().toUpper();
    for (const RootName &r : RootNames) {
        if (wanted == r.name)
            return r.root;
    }
    return Root::None;
}

RegistryStore::Root RegistryStore::splitPath(QString &path)
{
    if (!path.startsWith(QLatin1String("HKEY_")) || path.endsWith(QLatin1Char('\\')))
        return Root::None;
    const qsizetype cut = path.indexOf(QLatin1Char('\\'));
    const QString root = cut < 0 ? path : path.left(cut);
    const Root handle = rootHandle(root);
    if (handle == Root::None)
        return Root::None;
    path = cut < 0 ? QString() : path.mid(cut + 1);
    return handle;
}

QString RegistryStore::resolveView(const QString &view) const
{
    if (view.isEmpty()) {
        if (m_osBitness.isEmpty())
            m_osBitness = osBitness();
        return m_osBitness == QLatin1String("64") ? QStringLiteral("64") : QStringLiteral("32");
    }
    return view == QLatin1String("64") ? QStringLiteral("64") : QStringLiteral("32");
}

std::optional<QString> RegistryStore::keyId(const QString &path, const QString &view) const
{
    QString subKey = path;
    const Root root = splitPath(subKey);
    if (root == Root::None)
        return std::nullopt;
    QString id = resolveView(view) + QLatin1Char('\\') + rootName(root);
    if (!subKey.isEmpty())
        id += QLatin1Char('\\') + subKey;
    return id;
}

bool RegistryStore::keyExists(const QString &path, const QString &view) const
{
    const auto id = keyId(path, view);
    if (!id)
        return false;
    // A root key always exists.
    return id->count(QLatin1Char('\\')) == 1 || m_keys.contains(id->toLower());
}

const RegistryStore::Value *RegistryStore::findValue(const QString &path, const QString &view,
                                                     const QString &valueName) const
{
    const auto id = keyId(path, view);
    if (!id)
        return nullptr;
    const auto key = m_keys.constFind(id->toLower());
    if (key == m_keys.constEnd())
        return nullptr;
    for (const Value &v : key->values) {
        if (v.name.compare(valueName, Qt::CaseInsensitive) == 0)
            return &v;
    }
    return nullptr;
}

QString RegistryStore::readText(const QString &path, const QString &valueName,
                                const QString &view) const
{
    const Value *v = findValue(path, view, valueName);
    if (!v || v->isNumber || v->text.toUtf8().size() + 1 > TextBufferBytes)
        return ErrorText;
    QString text = v->text;
    const qsizetype nul = text.indexOf(QChar(0));
    if (nul >= 0)
        text.truncate(nul);
    return trimBlanks(text);
}

QString RegistryStore::readNumber(const QString &path, const QString &valueName,
                                  const QString &view) const
{
    const Value *v = findValue(path, view, valueName);
    if (!v || !v->isNumber)
        return ErrorText;
    return QString::number(v->number);
}

bool RegistryStore::writeNumber(const QString &path, const QString &valueName, qint32 number,
                                const QString &view)
{
    Value value;
    value.name = valueName;
    value.isNumber = true;
    value.number = number;
    const auto id = keyId(path, view);
    if (!id || !keyExists(path, view))
        return false;
    const auto before = m_keys;
    Key &key = m_keys[id->toLower()];
    if (key.path.isEmpty())
        key.path = *id;
    bool replaced = false;
    for (Value &v : key.values) {
        if (v.name.compare(valueName, Qt::CaseInsensitive) == 0) {
            v = value;
            replaced = true;
        }
    }
    if (!replaced)
        key.values.append(value);
    if (save())
        return true;
    m_keys = before;
    return false;
}

bool RegistryStore::writeText(const QString &path, const QString &valueName, const QString &text,
                              const QString &view)
{
    const auto id = keyId(path, view);
    if (!id || !keyExists(path, view))
        return false;
    const auto before = m_keys;
    Key &key = m_keys[id->toLower()];
    if (key.path.isEmpty())
        key.path = *id;
    Value value;
    value.name = valueName;
    value.text = text;
    bool replaced = false;
    for (Value &v : key.values) {
        if (v.name.compare(valueName, Qt::CaseInsensitive) == 0) {
            v = value;
            replaced = true;
        }
    }
    if (!replaced)
        key.values.append(value);
    if (save())
        return true;
    m_keys = before;
    return false;
}

bool RegistryStore::removeValue(const QString &path, const QString &valueName, const QString &view)
{
    const auto id = keyId(path, view);
    if (!id || !keyExists(path, view))
        return false;
    const auto key = m_keys.find(id->toLower());
    if (key == m_keys.end())
        return true;
    const auto before = m_keys;
    const qsizetype removed = key->values.removeIf(
        [&](const Value &v) { return v.name.compare(valueName, Qt::CaseInsensitive) == 0; });
    if (removed > 0 && !save())
        m_keys = before;
    return true;
}

bool RegistryStore::createKey(const QString &path, const QString &view)
{
    const auto id = keyId(path, view);
    if (!id)
        return false;
    const auto before = m_keys;
    bool changed = false;
    // Parents first, down to the key itself; "<view>\<ROOT>" needs no entry.
    const QStringList parts = id->split(QLatin1Char('\\'));
    QString part = parts[0] + QLatin1Char('\\') + parts[1];
    for (qsizetype i = 2; i < parts.size(); ++i) {
        part += QLatin1Char('\\') + parts[i];
        if (!m_keys.contains(part.toLower())) {
            m_keys.insert(part.toLower(), Key{part, {}});
            changed = true;
        }
    }
    if (!changed || save())
        return true;
    m_keys = before;
    return false;
}

void RegistryStore::load()
{
    QFile file(m_path);
    if (!file.exists())
        return;
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxFileBytes) {
        m_damaged = true;
        return;
    }
    Key *current = nullptr;
    while (!file.atEnd()) {
        const QByteArray raw = file.readLine(MaxFileBytes);
        QString line = QString::fromUtf8(raw);
        if (line.contains(QChar::ReplacementCharacter)) {
            m_damaged = true;
            continue;
        }
        // Blanks inside a value are its own; only the line end goes.
        while (line.endsWith(u'\n') || line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            line = line.trimmed();
            current = nullptr;
            if (!line.endsWith(u']')) {
                m_damaged = true;
                continue;
            }
            const QString stored = decode(QStringView(line).mid(1, line.size() - 2));
            const qsizetype cut = stored.indexOf(u'\\');
            const QString view = stored.left(cut);
            const auto id = cut > 0 && (view == QLatin1String("32") || view == QLatin1String("64"))
                                ? keyId(stored.mid(cut + 1), view)
                                : std::nullopt;
            if (!id) {
                m_damaged = true;
                continue;
            }
            current = &m_keys[id->toLower()];
            if (current->path.isEmpty())
                current->path = *id;
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!current || eq <= 0) {
            m_damaged = true;
            continue;
        }
        Value value;
        value.name = decode(QStringView(line).left(eq));
        const QStringView data = QStringView(line).mid(eq + 1);
        if (data.startsWith(u"dword:")) {
            bool ok = false;
            value.number = data.mid(6).toInt(&ok);
            value.isNumber = true;
            if (!ok) {
                m_damaged = true;
                continue;
            }
        } else if (data.startsWith(u"sz:")) {
            value.text = decode(data.mid(3));
        } else {
            m_damaged = true;
            continue;
        }
        current->values.removeIf(
            [&](const Value &v) { return v.name.compare(value.name, Qt::CaseInsensitive) == 0; });
        current->values.append(value);
    }
}

bool RegistryStore::save() const
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QString out = QStringLiteral("; Keys and values of ") + ApplicationTitle +
                  QStringLiteral(", by view (32 or 64) and path.\n");
    QList<QString> ids = m_keys.keys();
    std::sort(ids.begin(), ids.end());
    for (const QString &id : ids) {
        const Key &key = m_keys[id];
        out += QLatin1Char('[') + encode(key.path, u"[]") + QStringLiteral("]\n");
        for (const Value &v : key.values) {
            out += encode(v.name, u"=[;# ") + QLatin1Char('=');
            out += v.isNumber ? QStringLiteral("dword:") + QString::number(v.number)
                              : QStringLiteral("sz:") + encode(v.text, u"");
            out += QLatin1Char('\n');
        }
    }
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(out.toUtf8());
    return file.commit();
}

} // namespace lumen
