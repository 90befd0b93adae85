#include "platform/UserDefaults.h"

#include "platform/Localized.h"
#include "platform/PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QReadLocker>
#include <QSaveFile>
#include <QWriteLocker>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <optional>

namespace {

const QFile::Permissions kFilePermissions = QFile::ReadOwner | QFile::WriteOwner;
const QFile::Permissions kFolderPermissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Nesting a stored value may have, counting the file's root dictionary as the first level: the
// reader refuses deeper documents, so such a value would make the file unreadable at the next start.
constexpr int kMaximumValueDepth = PropertyList::maximumDepth;

bool isIntegerType(int typeId)
{
    switch (typeId) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

bool isRealType(int typeId) { return typeId == QMetaType::Double || typeId == QMetaType::Float; }

bool isAsciiDigit(QChar c) { return c.unicode() >= '0' && c.unicode() <= '9'; }

qsizetype skipSpace(const QString &text, qsizetype i)
{
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    return i;
}

// The value in the form the file will give back after a restart (qint64 for integers, quint64 only
// beyond qint64's range, double for reals, QVariantList and QVariantMap for containers), or
// nothing when a property list
// cannot carry it.
std::optional<QVariant> storableValue(const QVariant &value, int depth)
{
    const int type = value.typeId();
    if (type == QMetaType::QString || type == QMetaType::Bool || type == QMetaType::QByteArray)
        return value;
    if (type == QMetaType::QDateTime) {
        if (!value.toDateTime().isValid())
            return std::nullopt;
        return value;
    }
    if (type == QMetaType::Double || type == QMetaType::Float)
        return QVariant(value.toDouble());
    if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
        // The file gives back a quint64 only for what a qint64 cannot hold.
        const qulonglong u = value.toULongLong();
        if (u > qulonglong(std::numeric_limits<qint64>::max()))
            return QVariant(u);
        return QVariant(qint64(u));
    }
    if (isIntegerType(type))
        return QVariant(value.toLongLong());
    if (type == QMetaType::QStringList) {
        if (depth + 1 > kMaximumValueDepth)
            return std::nullopt;
        QVariantList list;
        for (const QString &s : value.toStringList())
            list.append(s);
        return list;
    }
    if (type == QMetaType::QVariantList) {
        if (depth + 1 > kMaximumValueDepth)
            return std::nullopt;
        QVariantList list;
        const QVariantList source = value.toList();
        list.reserve(source.size());
        for (const QVariant &element : source) {
            std::optional<QVariant> stored = storableValue(element, depth + 1);
            if (!stored)
                return std::nullopt;
            list.append(std::move(*stored));
        }
        return list;
    }
    if (type == QMetaType::QVariantMap || type == QMetaType::QVariantHash) {
        if (depth + 1 > kMaximumValueDepth)
            return std::nullopt;
        QVariantMap map;
        const QVariantMap source = value.toMap();
        for (auto it = source.cbegin(); it != source.cend(); ++it) {
            std::optional<QVariant> stored = storableValue(it.value(), depth + 1);
            if (!stored)
                return std::nullopt;
            map.insert(it.key(), std::move(*stored));
        }
        return map;
    }
    return std::nullopt;
}

// Creates the folder and any missing parents with mode 0700, as the XDG base directory rules ask
// for folders made on the user's behalf.
bool makeFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != path && !makeFolder(parent))
        return false;
    return QDir().mkdir(path, kFolderPermissions) || QFileInfo(path).isDir();
}

bool looksLikeNegativeNumber(const QString &word)
{
    if (word.size() < 2 || word.at(0) != QLatin1Char('-'))
        return false;
    if (isAsciiDigit(word.at(1)))
        return true;
    return word.size() > 2 && word.at(1) == QLatin1Char('.') && isAsciiDigit(word.at(2));
}

bool isArgumentKey(const QString &word)
{
    return word.size() >= 2 && word.at(0) == QLatin1Char('-') && !looksLikeNegativeNumber(word);
}

QVariant argumentValue(const QString &word)
{
    const QString trimmed = word.trimmed();
    if (trimmed.startsWith(QLatin1Char('(')) || trimmed.startsWith(QLatin1Char('{'))) {
        const QVariant parsed = PropertyList::readOpenStep(trimmed.toUtf8());
        if (parsed.typeId() == QMetaType::QVariantList || parsed.typeId() == QMetaType::QVariantMap)
            return parsed;
    }
    return word;
}

double leadingDecimalNumber(const QString &text)
{
    // The longest leading decimal number: [sign] digits [. digits] [e [sign] digits], with at least
    // one digit before the exponent. Gathered as ASCII and parsed by std::from_chars, which knows no
    // locale.
    qsizetype i = skipSpace(text, 0);
    QByteArray number;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    int mantissaDigits = 0;
    int integerDigits = 0; // significant digits before the point
    for (; i < text.size() && isAsciiDigit(text.at(i)); ++i, ++mantissaDigits) {
        if (integerDigits > 0 || text.at(i) != QLatin1Char('0'))
            ++integerDigits;
        number.append(char(text.at(i).unicode()));
    }
    if (i < text.size() && text.at(i) == QLatin1Char('.')) {
        qsizetype j = i + 1;
        QByteArray fraction;
        for (; j < text.size() && isAsciiDigit(text.at(j)); ++j)
            fraction.append(char(text.at(j).unicode()));
        if (mantissaDigits > 0 || !fraction.isEmpty()) {
            number.append('.');
            number.append(fraction);
            mantissaDigits += int(fraction.size());
            i = j;
        }
    }
    if (mantissaDigits == 0)
        return 0.0;
    long long exponent = 0;
    if (i < text.size() && (text.at(i) == QLatin1Char('e') || text.at(i) == QLatin1Char('E'))) {
        qsizetype j = i + 1;
        bool exponentNegative = false;
        if (j < text.size() && (text.at(j) == QLatin1Char('+') || text.at(j) == QLatin1Char('-'))) {
            exponentNegative = text.at(j) == QLatin1Char('-');
            ++j;
        }
        if (j < text.size() && isAsciiDigit(text.at(j))) {
            QByteArray digits;
            for (; j < text.size() && isAsciiDigit(text.at(j)); ++j) {
                digits.append(char(text.at(j).unicode()));
                if (exponent < 100000)
                    exponent = exponent * 10 + (text.at(j).unicode() - '0');
            }
            number.append('e');
            if (exponentNegative)
                number.append('-');
            number.append(digits);
            if (exponentNegative)
                exponent = -exponent;
        }
    }

    double result = 0.0;
    const auto [end, error] =
        std::from_chars(number.constData(), number.constData() + number.size(), result, std::chars_format::general);
    Q_UNUSED(end);
    if (error == std::errc::result_out_of_range) {
        // Too large is infinite and too small is zero, as strtod would answer.
        result = integerDigits + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (error != std::errc()) {
        result = 0.0;
    }
    return negative ? -result : result;
}

} // namespace

UserDefaults::UserDefaults(const QString &filePath) : m_filePath(filePath) { load(); }
UserDefaults::~UserDefaults() = default;

UserDefaults &UserDefaults::standard()
{
    static UserDefaults defaults(defaultFilePath());
    return defaults;
}

QString UserDefaults::defaultFilePath()
{
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and is ignored like an empty one.
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/ostrevan/preferences.plist"));
}

QString UserDefaults::filePath() const { return m_filePath; }

QString UserDefaults::loadProblem() const
{
    QReadLocker locker(&m_lock);
    return m_loadProblem;
}

void UserDefaults::registerDefaults(const QVariantMap &defaults)
{
    QWriteLocker locker(&m_lock);
    m_registered.insert(defaults);
}

QVariantMap UserDefaults::argumentsFromCommandLine(const QStringList &arguments)
{
    QVariantMap result;
    // arguments[0] is the program's name.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (!isArgumentKey(word))
            continue; // a stray word
        if (i + 1 >= arguments.size())
            break; // a key with nothing after it
        const QString &next = arguments.at(i + 1);
        if (isArgumentKey(next))
            continue; // a key without a value; the next word starts a pair
        result.insert(word.mid(1), argumentValue(next));
        ++i;
    }
    return result;
}

void UserDefaults::setArguments(const QStringList &arguments)
{
    QVariantMap parsed = argumentsFromCommandLine(arguments);
    QWriteLocker locker(&m_lock);
    m_arguments = std::move(parsed);
}

QVariant UserDefaults::objectForKey(const QString &key) const
{
    QReadLocker locker(&m_lock);
    return lookupLocked(key);
}

QString UserDefaults::stringForKey(const QString &key) const { return stringFromVariant(objectForKey(key)); }
bool UserDefaults::boolForKey(const QString &key) const { return boolFromVariant(objectForKey(key)); }
qint64 UserDefaults::integerForKey(const QString &key) const { return integerFromVariant(objectForKey(key)); }
double UserDefaults::doubleForKey(const QString &key) const { return doubleFromVariant(objectForKey(key)); }

QVariantList UserDefaults::arrayForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QVariantList || value.typeId() == QMetaType::QStringList)
        return value.toList();
    return {};
}

QVariantMap UserDefaults::dictionaryForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantHash)
        return value.toMap();
    return {};
}

QByteArray UserDefaults::dataForKey(const QString &key) const
{
    const QVariant value = objectForKey(key);
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    return {};
}

bool UserDefaults::contains(const QString &key) const
{
    QReadLocker locker(&m_lock);
    return m_arguments.contains(key) || m_persistent.contains(key) || m_registered.contains(key);
}

QVariantMap UserDefaults::persistentDomain() const
{
    QReadLocker locker(&m_lock);
    return m_persistent;
}

QVariant UserDefaults::storedObjectForKey(const QString &key) const
{
    QReadLocker locker(&m_lock);
    const auto it = m_persistent.constFind(key);
    if (it != m_persistent.cend())
        return *it;
    return m_registered.value(key);
}

QVariantMap UserDefaults::argumentDomain() const
{
    QReadLocker locker(&m_lock);
    return m_arguments;
}

QVariantMap UserDefaults::registeredDomain() const
{
    QReadLocker locker(&m_lock);
    return m_registered;
}

bool UserDefaults::setObject(const QVariant &value, const QString &key)
{
    if (value.isValid() && !value.isNull()) {
        QWriteLocker locker(&m_lock);
        // A key the command line gave belongs to this run: the run goes on with what the program
        // writes (a panel moved, a size chosen), and the file keeps what it held.
        const auto given = m_arguments.find(key);
        if (given != m_arguments.end()) {
            // Refused as the file would refuse it.
            std::optional<QVariant> stored = storableValue(value, 1);
            if (!stored)
                return false;
            *given = std::move(*stored);
            return true;
        }
    }
    return setStoredObject(value, key);
}

bool UserDefaults::setStoredObject(const QVariant &value, const QString &key)
{
    if (!value.isValid() || value.isNull())
        return removeObjectForKey(key);
    std::optional<QVariant> stored = storableValue(value, 1);
    // The writer has the last word (a string with a control character, a date beyond the year
    // 9999): a value it refuses would stop every later save of the whole file.
    QString writeError;
    if (stored && PropertyList::writeXml(QVariantMap{{key, *stored}}, &writeError).isEmpty())
        stored.reset();
    if (!stored) {
        qWarning("UserDefaults: the value for \"%s\" (%s) cannot be stored in a property list%s%s", qUtf8Printable(key),
                 value.typeName(), writeError.isEmpty() ? "" : ": ", qUtf8Printable(writeError));
        return false;
    }

    QWriteLocker locker(&m_lock);
    const auto existing = m_persistent.constFind(key);
    // Windows write back values they have not changed; a plain value that is already there (same
    // type and same value) needs no new file. Containers are always written, since QVariant's
    // comparison takes 1 and true for equal inside them.
    const bool isContainer = stored->typeId() == QMetaType::QVariantList || stored->typeId() == QMetaType::QVariantMap;
    if (!m_dirty && !isContainer && existing != m_persistent.cend() && existing->typeId() == stored->typeId()
        && *existing == *stored)
        return true;
    m_persistent.insert(key, std::move(*stored));
    return saveLocked();
}

void UserDefaults::forgetArguments(const QStringList &keys)
{
    QWriteLocker locker(&m_lock);
    for (const QString &key : keys)
        m_arguments.remove(key);
}

bool UserDefaults::removeObjectForKey(const QString &key)
{
    QWriteLocker locker(&m_lock);
    if (!m_persistent.contains(key) && !m_dirty)
        return true;
    m_persistent.remove(key);
    return saveLocked();
}

bool UserDefaults::synchronize()
{
    QWriteLocker locker(&m_lock);
    if (!m_dirty)
        return true;
    return saveLocked();
}

bool UserDefaults::boolFromVariant(const QVariant &value)
{
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool();
    if (isIntegerType(type))
        return value.toLongLong() != 0 || value.toULongLong() != 0;
    if (isRealType(type)) {
        const double d = value.toDouble();
        return d != 0.0 && !std::isnan(d);
    }
    if (type != QMetaType::QString)
        return false;

    // "YES", "yes", "true", "T..." are true, as is any number that is not zero ("1", "-3", "007");
    // "NO", "0", "0.5", "false" and "" are false.
    const QString text = value.toString();
    qsizetype i = skipSpace(text, 0);
    if (i >= text.size())
        return false;
    const char16_t first = text.at(i).unicode();
    if (first == 'Y' || first == 'y' || first == 'T' || first == 't')
        return true;
    if (first == '+' || first == '-')
        ++i;
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    return i < text.size() && text.at(i).unicode() >= '1' && text.at(i).unicode() <= '9';
}

qint64 UserDefaults::integerFromVariant(const QVariant &value)
{
    constexpr qint64 maximum = std::numeric_limits<qint64>::max();
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool() ? 1 : 0;
    if (type == QMetaType::ULongLong || type == QMetaType::ULong) {
        const qulonglong u = value.toULongLong();
        return u > qulonglong(maximum) ? maximum : qint64(u);
    }
    if (isIntegerType(type))
        return value.toLongLong();
    if (isRealType(type)) {
        const double d = value.toDouble();
        if (std::isnan(d))
            return 0;
        // Saturate rather than convert out of range, which would be undefined.
        if (d >= 9223372036854775808.0)
            return maximum;
        if (d < -9223372036854775808.0)
            return minimum;
        return qint64(std::trunc(d));
    }
    if (type != QMetaType::QString)
        return 0;

    const QString text = value.toString();
    qsizetype i = skipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    // The magnitude is gathered unsigned so that the most negative number fits.
    const quint64 limit = negative ? quint64(maximum) + 1 : quint64(maximum);
    quint64 magnitude = 0;
    bool saturated = false;
    for (; i < text.size() && isAsciiDigit(text.at(i)); ++i) {
        const unsigned digit = text.at(i).unicode() - '0';
        if (saturated)
            continue;
        if (magnitude > (limit - digit) / 10) {
            magnitude = limit;
            saturated = true;
        } else {
            magnitude = magnitude * 10 + digit;
        }
    }
    if (negative)
        return magnitude == quint64(maximum) + 1 ? minimum : -qint64(magnitude);
    return qint64(magnitude);
}

double UserDefaults::doubleFromVariant(const QVariant &value)
{
    const int type = value.typeId();
    if (type == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    if (isIntegerType(type) || isRealType(type))
        return value.toDouble();
    if (type != QMetaType::QString)
        return 0.0;
    return leadingDecimalNumber(value.toString());
}

QString UserDefaults::stringFromVariant(const QVariant &value)
{
    const int type = value.typeId();
    if (type == QMetaType::QString)
        return value.toString();
    if (type == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (type == QMetaType::ULongLong || type == QMetaType::ULong || type == QMetaType::UInt || type == QMetaType::UShort
        || type == QMetaType::UChar)
        return QString::number(value.toULongLong());
    if (isIntegerType(type))
        return QString::number(value.toLongLong());
    if (isRealType(type)) {
        // The shortest text that reads back as the same number, never with a locale's comma.
        char buffer[64];
        const auto [end, error] = type == QMetaType::Float
                                      ? std::to_chars(buffer, buffer + sizeof buffer, value.toFloat())
                                      : std::to_chars(buffer, buffer + sizeof buffer, value.toDouble());
        if (error != std::errc())
            return QString();
        return QString::fromLatin1(buffer, end - buffer);
    }
    return QString();
}

void UserDefaults::load()
{
    if (m_filePath.isEmpty())
        return;
    QFileInfo info(m_filePath);
    if (!info.exists() && !info.isSymLink())
        return; // a first start

    QFile file(m_filePath);
    const bool opened = file.open(QIODevice::ReadOnly);
    const QByteArray data = opened ? file.readAll() : QByteArray();
    if (!opened || file.error() != QFileDevice::NoError) {
        // Most likely a permission problem. The settings are still in the file, so it stays where
        // it is and is never replaced: a save now would write only what this run knows and lose the
        // rest. Changes are kept in memory and writes answer false.
        m_saveBlocked = true;
        m_loadProblem = localized("Your preferences file “%1” could not be read (%2). Ostrevan "
                                  "starts with the default settings and leaves the file as it is; "
                                  "settings you change are not saved.")
                            .arg(QDir::toNativeSeparators(m_filePath), file.errorString());
        return;
    }
    file.close();

    QString parseError;
    const QVariant root = PropertyList::readXml(data, &parseError);
    if (root.typeId() == QMetaType::QVariantMap) {
        m_persistent = root.toMap();
        return;
    }
    if (parseError.isEmpty())
        parseError = localized("its top level is not a dictionary");

    // Keep the broken file for the user (or for us) to look at, and start afresh. rename(2)
    // replaces an older copy in one step.
    const QString asidePath = m_filePath + QStringLiteral(".corrupt");
    if (std::rename(QFile::encodeName(m_filePath).constData(), QFile::encodeName(asidePath).constData()) != 0) {
        // It could not be moved; then it must not be overwritten either.
        m_saveBlocked = true;
        m_loadProblem = localized("Your preferences file “%1” is damaged (%2) and could not be "
                                  "moved aside to “%3”. Ostrevan starts with the default settings "
                                  "and leaves the file as it is; settings you change are not saved.")
                            .arg(QDir::toNativeSeparators(m_filePath), parseError, QDir::toNativeSeparators(asidePath));
        return;
    }
    m_loadProblem = localized("Your preferences file “%1” is damaged (%2). It was kept as “%3”, "
                              "and Ostrevan starts with the default settings.")
                        .arg(QDir::toNativeSeparators(m_filePath), parseError, QDir::toNativeSeparators(asidePath));
}

bool UserDefaults::saveLocked()
{
    m_dirty = true;
    if (m_filePath.isEmpty()) {
        m_dirty = false;
        return true;
    }
    if (m_saveBlocked)
        return false;

    QString error;
    const QByteArray xml = PropertyList::writeXml(m_persistent, &error);
    if (xml.isEmpty()) {
        qWarning("UserDefaults: cannot write the preferences: %s", qUtf8Printable(error));
        return false;
    }
    if (!makeFolder(QFileInfo(m_filePath).absolutePath())) {
        qWarning("UserDefaults: cannot create the folder of %s", qUtf8Printable(m_filePath));
        return false;
    }
    // The file holds passwords: it is made private before a byte is written, and replaces the old
    // one only once it is complete.
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        qWarning("UserDefaults: cannot write %s: %s", qUtf8Printable(m_filePath), qUtf8Printable(file.errorString()));
        return false;
    }
    if (!file.setPermissions(kFilePermissions) || file.write(xml) != xml.size() || !file.commit()) {
        qWarning("UserDefaults: cannot write %s: %s", qUtf8Printable(m_filePath), qUtf8Printable(file.errorString()));
        file.cancelWriting();
        return false;
    }
    m_dirty = false;
    return true;
}

QVariant UserDefaults::lookupLocked(const QString &key) const
{
    auto it = m_arguments.constFind(key);
    if (it != m_arguments.cend())
        return *it;
    it = m_persistent.constFind(key);
    if (it != m_persistent.cend())
        return *it;
    return m_registered.value(key);
}
