#include "engine/naming.h"

#include "engine/download_item.h"
#include "engine/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace lumen
{

namespace
{

#ifdef Q_OS_WIN
constexpr QChar Separator = QLatin1Char('\\');
#else
constexpr QChar Separator = QLatin1Char('/');
#endif

bool isSeparator(QChar c)
{
#ifdef Q_OS_WIN
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
#else
    return c == QLatin1Char('/');
#endif
}

int utf8Length(char32_t cp)
{
    if (cp < 0x80)
        return 1;
    if (cp < 0x800)
        return 2;
    if (cp < 0x10000)
        return 3;
    return 4;
}

// The longest prefix whose UTF-8 form fits in maxBytes, cut between code
// points. The text holds no unpaired surrogate here.
QString truncateUtf8(const QString &text, int maxBytes)
{
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        char32_t cp = text.at(i).unicode();
        qsizetype len = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
            cp = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            len = 2;
        }
        const int b = utf8Length(cp);
        if (used + b > maxBytes)
            break;
        used += b;
        i += len;
    }
    return text.left(i);
}

// A lone half of a surrogate pair is no character: no file system can store
// it as given, so the name on disk would differ from the record's.
QString dropUnpairedSurrogates(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate()) {
            if (i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                out.append(c);
                out.append(text.at(++i));
            }
        } else if (!c.isLowSurrogate()) {
            out.append(c);
        }
    }
    return out;
}

QString trimSpaces(const QString &s)
{
    // Only spaces, not other white space: tabs stay as the user typed them.
    qsizetype start = 0;
    while (start < s.size() && s.at(start) == QLatin1Char(' '))
        ++start;
    qsizetype end = s.size();
    while (end > start && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(start, end - start);
}

bool onlyDots(const QString &s)
{
    for (QChar c : s)
        if (c != QLatin1Char('.'))
            return false;
    return true;
}

// Something of that name is there (file, folder or link, even a dangling
// one): a new file cannot take the name.
bool nameTaken(const QString &path)
{
    const QFileInfo fi(path);
    return fi.exists() || fi.isSymLink();
}

// A plain decimal number of at most 18 digits (so that counting on from it
// cannot overflow).
bool parseNumber(const QString &text, qint64 &value)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 18)
        return false;
    for (QChar c : t)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    value = t.toLongLong();
    return true;
}

QString padded(qint64 n, int width)
{
    return QString::number(n).rightJustified(width, QLatin1Char('0'));
}

QString withType(const QString &name, const QString &type)
{
    return type.isEmpty() ? name : name + QLatin1Char('.') + type;
}

qsizetype lastSeparator(const QString &path)
{
#ifdef Q_OS_WIN
    return qMax(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
#else
    return path.lastIndexOf(QLatin1Char('/'));
#endif
}

} // namespace

QString SanitizeFileName(const QString &text)
{
    QString s = text;
    static const QString forbidden = QStringLiteral("\\/:*?\"<>|");
    s.removeIf([](QChar c) { return forbidden.contains(c); });
    s.remove(QStringLiteral("\r\n"));
    s.remove(QLatin1Char('\n'));
    s.remove(QLatin1Char('\r'));
    s.remove(QChar(0));
    // Controls (C0 but the tab, DEL, C1) and the invisible bidirectional
    // controls: a title from the network must not reorder or hide part of a
    // name, nor act on a terminal that lists it.
    s.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t') || (u >= 0x7f && u <= 0x9f) || u == 0x061c || u == 0x200e ||
               u == 0x200f || (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069);
    });
    s = dropUnpairedSurrogates(s);
    qsizetype start = 0;
    while (start < s.size() && s.at(start) == QLatin1Char('.'))
        ++start;
    qsizetype end = s.size();
    while (end > start && s.at(end - 1) == QLatin1Char('.'))
        --end;
    s = s.mid(start, end - start);
    s = gbk::truncateToBytes(s, MaxNameBytes);
    s = truncateUtf8(s, MaxNameFileSystemBytes);
    s = trimSpaces(s);
    // Dots are stripped before spaces, so " .. " would come out as "..": a
    // name of dots alone names the folder itself or its parent.
    if (onlyDots(s))
        return QString();
    return s;
}

int gbkByteLength(const QString &text)
{
    return gbk::byteLength(text);
}

QString localFilePath(const QString &path)
{
    QString p = path.trimmed();
    if (p.startsWith(QLatin1String("file:///"), Qt::CaseInsensitive)) {
#ifdef Q_OS_WIN
        p = p.mid(8); // file:///C:/dir/a.pdf -> C:/dir/a.pdf
#else
        p = p.mid(7); // file:///home/a.pdf -> /home/a.pdf: the root stays
#endif
    }
    return p;
}

bool FileExists(const QString &path)
{
    const QString p = localFilePath(path);
    if (p.isEmpty())
        return false;
    return QFileInfo(p).isFile();
}

bool FolderExists(const QString &path)
{
    if (path.trimmed().isEmpty())
        return false;
#ifdef Q_OS_WIN
    // The floppy drive is never probed: asking would spin it up or raise a
    // "no disk" box.
    if (path.compare(QLatin1String("A:\\"), Qt::CaseInsensitive) == 0)
        return true;
#endif
    return QFileInfo(path).isDir();
}

QString folderWithSeparator(const QString &folder)
{
    if (folder.isEmpty() || isSeparator(folder.back()))
        return folder;
    return folder + Separator;
}

FolderPathResult CreateFolderPath(const QString &path)
{
    FolderPathResult result;
    if (path.trimmed().isEmpty())
        return result;
    QString current;
#ifdef Q_OS_WIN
    QString p = path;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QStringList pieces = p.split(QLatin1Char('\\'));
    qsizetype next = 0;
    if (p.startsWith(QLatin1String("\\\\"))) {
        if (pieces.size() < 3 || pieces.at(2).isEmpty()) {
            result.badName = true;
            return result;
        }
        current = QLatin1String("\\\\") + pieces.at(2);
        next = 3;
    } else {
        current = pieces.at(0); // the drive, "C:"
        next = 1;
    }
    for (; next < pieces.size(); ++next) {
        QString piece = pieces.at(next);
        if (piece.isEmpty())
            break; // a trailing separator ends the walk
        piece = SanitizeFileName(piece);
        if (piece.isEmpty()) {
            result.badName = true;
            break;
        }
        current = current + Separator + piece;
        if (!FolderExists(current))
            QDir().mkdir(current);
    }
#else
    // "./out", "../x" and "a/./b" are ordinary ways to name a folder: they
    // are resolved, never taken for folder names of their own.
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    const QStringList pieces = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        // The only names Linux file systems refuse.
        if (piece.contains(QChar(0)) || piece.toUtf8().size() > 255) {
            result.badName = true;
            break;
        }
        current += Separator + piece;
        if (FolderExists(current))
            continue;
        if (QFileInfo::exists(current)) {
            result.error = QStringLiteral("%1 is not a folder").arg(current);
            break;
        }
        if (::mkdir(QFile::encodeName(current).constData(), 0777) != 0 && errno != EEXIST) {
            result.error = QStringLiteral("cannot make the folder %1: %2")
                               .arg(current, QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
    }
#endif
    if (!current.isEmpty() && FolderExists(current))
        result.path = current;
    else if (result.error.isEmpty())
        result.error = result.badName ? QStringLiteral("the folder's name cannot be held by the "
                                                       "file system")
                                      : QStringLiteral("no save folder");
    return result;
}

QString NameReservations::key(const QString &path)
{
    return QDir::cleanPath(QDir(path).absolutePath());
}

bool NameReservations::reserveKey(const QString &key)
{
    if (m_paths.contains(key))
        return false;
    m_paths.insert(key);
    return true;
}

bool isSafeFileName(const QString &fileName)
{
    if (fileName.isEmpty() || fileName == QLatin1String(".") || fileName == QLatin1String(".."))
        return false;
    for (QChar c : fileName)
        if (isSeparator(c) || c.isNull())
            return false;
    return true;
}

QString ItemFilePath(const DownloadItem &item)
{
    const QString folder = folderWithSeparator(item.folder);
    const QString fileName = withType(item.name, item.fileType);
    if (folder.isEmpty() || item.name.isEmpty() || !isSafeFileName(fileName))
        return QString();
    return folder + fileName;
}

QString unsafeNameReason(const QString &folder, const QString &name, const QString &type)
{
    if (folderWithSeparator(folder).isEmpty())
        return QStringLiteral("no save folder");
    if (name.isEmpty())
        return QStringLiteral("the name is empty once cleaned of what a file name cannot hold");
    if (type.contains(QLatin1Char('/')) || type.contains(QLatin1Char('\\')))
        return QStringLiteral("the type \"%1\" cannot be a file extension").arg(type);
    return QStringLiteral("\"%1\" cannot be a file name").arg(withType(name, type));
}

SavePath renameSavePath(const QString &folder, const QString &name, const QString &type,
                        SameNamePolicy policy, const NameReservations *reserved)
{
    auto taken = [reserved](const QString &path) {
        return nameTaken(path) || (reserved && reserved->isReserved(path));
    };
    const QString dir = folderWithSeparator(folder);
    auto pathOf = [&](const QString &candidate) {
        const QString fileName = withType(candidate, type);
        if (dir.isEmpty() || candidate.isEmpty() || !isSafeFileName(fileName))
            return QString();
        return dir + fileName;
    };

    const QString full = pathOf(name);
    if (full.isEmpty())
        return {name, QString()};
    if (policy == SameNamePolicy::Overwrite || !taken(full))
        return {name, full};

    qint64 n = 0;
    QString base = name;
    const qsizetype open = name.lastIndexOf(QLatin1Char('['));
    const qsizetype close = name.lastIndexOf(QLatin1Char(']'));
    if (open >= 0 && close >= 0 && open < close) {
        qint64 value = 0;
        if (parseNumber(name.mid(open + 1, close - open - 1), value)) {
            n = value;
            base = name.left(open);
        }
    }
    // Brackets left in the name would be read as a number the next time.
    base.replace(QLatin1Char('['), QStringLiteral("『"));
    base.replace(QLatin1Char(']'), QStringLiteral("』"));

    auto numbered = [&](qint64 k) {
        return base + QLatin1Char('[') + padded(k, 3) + QLatin1Char(']');
    };
    // Every numbered name is safe exactly when the first one is.
    if (pathOf(numbered(1)).isEmpty())
        return {name, QString()};

    QString candidate = n != 0 ? numbered(n) : base;
    QString path = pathOf(candidate);
    while (path.isEmpty() || taken(path)) {
        ++n;
        candidate = numbered(n);
        path = pathOf(candidate);
    }
    return {candidate, path};
}

QString UniqueCorrectedPath(const QString &path)
{
    const qsizetype sep = lastSeparator(path);
    if (!FileExists(path) || sep < 0)
        return path;
    const QString dir = path.left(sep + 1);
    const QString fileName = path.mid(sep + 1);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    QString base = dot < 0 ? fileName : fileName.left(dot);
    const QString ext = dot < 0 ? QString() : fileName.mid(dot);

    if (base.size() > MaxCorrectedBaseLength) {
        qsizetype keep = MaxCorrectedBaseLength;
        if (base.at(keep - 1).isHighSurrogate())
            --keep; // never split a character
        base.truncate(keep);
    }
    if (base.endsWith(QLatin1Char(']'))) {
        const qsizetype open = base.lastIndexOf(QLatin1Char('['));
        const qsizetype close = base.size() - 1;
        qint64 value = 0;
        if (open >= 0 && parseNumber(base.mid(open + 1, close - open - 1), value))
            base.truncate(open);
    }

    QString candidate = dir + base + ext;
    qint64 n = 0;
    while (nameTaken(candidate)) {
        ++n;
        candidate = dir + base + QLatin1Char('[') + padded(n, 4) + QLatin1Char(']') + ext;
    }
    return candidate;
}

} // namespace lumen
