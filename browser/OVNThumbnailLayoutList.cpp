#include "browser/OVNThumbnailLayoutList.h"

#include "browser/OVNThumbnailHelper.h"
#include "formats/OVNHelper.h"
#include "platform/PropertyList.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <atomic>
#include <cmath>
#include <cstdio>

const QString OVNThumbnailLayoutList::preferenceKey = QStringLiteral("ThumbnailLayoutList");

namespace {

enum class Kind { Name, Flag, Colour, Font, Spacing, LayoutKind, BarField, ListField };

struct KeyKind {
    const char *key;
    Kind kind;
};

const KeyKind knownKeys[] = {
    {"NAME", Kind::Name},
    {"udfBackgroundColor", Kind::Colour},
    {"udfEnableFrame", Kind::Flag},
    {"udfEnableShadow", Kind::Flag},
    {"udfShadowColor", Kind::Colour},
    {"udfFrameBackgroundColor", Kind::Colour},
    {"udfFrameColor", Kind::Colour},
    {"udfFrameDrawBackground", Kind::Flag},
    {"udfFrameFullSize", Kind::Flag},
    {"udfEnableManualSpacing", Kind::Flag},
    {"udfManualSpacing", Kind::Spacing},
    {"udfLayoutSelection", Kind::LayoutKind},
    {"udfEnableBottomInfoBar", Kind::Flag},
    {"udfBottomBarBGColor", Kind::Colour},
    {"udfBottomBarFont", Kind::Font},
    {"udfBottomBarFontColor", Kind::Colour},
    {"udfBottomBarLeft", Kind::BarField},
    {"udfBottomBarMiddle", Kind::BarField},
    {"udfBottomBarRight", Kind::BarField},
    {"udfEnableNameBar", Kind::Flag},
    {"udfNameBarBGColor", Kind::Colour},
    {"udfNameBarFont", Kind::Font},
    {"udfNameBarFontColor", Kind::Colour},
    {"udfNameBarLeft", Kind::BarField},
    {"udfNameBarMiddle", Kind::BarField},
    {"udfNameBarRight", Kind::BarField},
    {"udfEnableTopInfoBar", Kind::Flag},
    {"udfTopBarBGColor", Kind::Colour},
    {"udfTopBarFont", Kind::Font},
    {"udfTopBarFontColor", Kind::Colour},
    {"udfTopBarLeft", Kind::BarField},
    {"udfTopBarMiddle", Kind::BarField},
    {"udfTopBarRight", Kind::BarField},
    {"udfListLine1", Kind::ListField},
    {"udfListLine2", Kind::ListField},
    {"udfListLine3", Kind::ListField},
    {"udfListLine4", Kind::ListField},
    {"udfListLine5", Kind::ListField},
    {"udfListLine6", Kind::ListField},
    {"udfListLine7", Kind::ListField},
};

const QString wholeLayout = QStringLiteral("(layout)");

bool isScalar(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool isString(const QVariant &value) { return value.typeId() == QMetaType::QString; }

// How a value is named in a message: short, whatever its size.
QString describe(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QString: {
        const QString text = value.toString();
        if (text.size() > 24)
            return QStringLiteral("a text of %1 characters").arg(text.size());
        return QLatin1Char('"') + text + QLatin1Char('"');
    }
    case QMetaType::QVariantMap:
        return QStringLiteral("a dictionary");
    case QMetaType::QVariantList:
        return QStringLiteral("a list");
    case QMetaType::QByteArray:
        return QStringLiteral("data");
    case QMetaType::QDateTime:
        return QStringLiteral("a date");
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    default:
        if (isScalar(value))
            return value.toString();
        return QStringLiteral("a value of an unknown kind");
    }
}

// A number as the renderer reads it: the leading number of a string, or the number itself.
// Not finite when it is no usable number.
double numberOf(const QVariant &value)
{
    if (isString(value)) {
        // A code is a few characters; a long text is no code, whatever it begins with.
        const QString text = value.toString();
        return text.size() > 64 ? NAN : OVNHelper::leadingDouble(text);
    }
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? 1.0 : 0.0;
    return value.toDouble();
}

QString builtInName(int index)
{
    return OVNThumbnailHelper::getLayoutForThumbnail(index).value(QStringLiteral("NAME")).toString();
}

QString builtInStandsIn(int index)
{
    return QStringLiteral("the built-in layout \"%1\" stands in").arg(builtInName(index));
}

class Repairer
{
public:
    Repairer(int index, QList<OVNLayoutProblem> &problems) : m_index(index), m_problems(problems) {}

    QVariantMap repair(QVariantMap layout)
    {
        for (const KeyKind &entry : knownKeys) {
            const QString key = QString::fromLatin1(entry.key);
            const auto found = layout.constFind(key);
            if (found == layout.constEnd())
                continue;
            const QVariant value = found.value();
            const QVariant replacement = repairValue(key, entry.kind, value);
            if (replacement.isValid())
                layout.insert(key, replacement);
        }
        return layout;
    }

private:
    void note(const QString &key, const QString &reason) { m_problems.append({m_index, key, reason}); }

    // The value that stands in, or an invalid QVariant when the stored one stays.
    QVariant repairValue(const QString &key, Kind kind, const QVariant &value)
    {
        switch (kind) {
        case Kind::Name:
            if (isScalar(value))
                return QVariant();
            note(key, describe(value) + QStringLiteral(" is no name; an empty name stands in"));
            return QString();
        case Kind::Spacing:
            if (isScalar(value))
                return QVariant();
            note(key, describe(value) + QStringLiteral(" is no spacing; an empty one stands in"));
            return QString();
        case Kind::Colour:
            if (value.typeId() == QMetaType::QVariantMap)
                return QVariant(); // the colour decoding copes with any components
            note(key, describe(value) + QStringLiteral(" is no colour; transparent black stands in"));
            return OVNHelper::encodeColorR(0, 0, 0, 0);
        case Kind::Font:
            return repairFont(key, value);
        case Kind::Flag:
            return repairCode(key, value, anyNumber, QStringLiteral("flag"), QStringLiteral("off (\"0\")"));
        case Kind::LayoutKind:
            return repairCode(key, value, 1, QStringLiteral("layout kind (0 to 1)"),
                              QStringLiteral("the picture cell (\"0\")"));
        case Kind::BarField:
            return repairCode(key, value, 8, QStringLiteral("bar field (0 to 8)"), QStringLiteral("\"None\""));
        case Kind::ListField:
            return repairCode(key, value, 7, QStringLiteral("list field (0 to 7)"), QStringLiteral("\"None\""));
        }
        return QVariant();
    }

    // A flag is on only at exactly 1, so any other number simply reads as off.
    static constexpr int anyNumber = -1;

    // Flags and codes are decimal strings. Numbers a hand-edited list may hold are taken at their
    // value and written as the decimal string the rest of the program reads.
    QVariant repairCode(const QString &key, const QVariant &value, int highest, const QString &what,
                        const QString &standsIn)
    {
        if (!isScalar(value)) {
            note(key, describe(value) + QStringLiteral(" is no ") + what + QStringLiteral("; ") + standsIn
                          + QStringLiteral(" stands in"));
            return QStringLiteral("0");
        }
        const double number = numberOf(value);
        if (!std::isfinite(number) || (highest != anyNumber && (number < 0 || number >= highest + 1))) {
            note(key, describe(value) + QStringLiteral(" is no ") + what + QStringLiteral("; ") + standsIn
                          + QStringLiteral(" stands in"));
            return QStringLiteral("0");
        }
        if (isString(value))
            return QVariant();
        if (highest == anyNumber)
            return number == 1.0 ? QStringLiteral("1") : QStringLiteral("0");
        return QString::number(int(number));
    }

    QVariant repairFont(const QString &key, const QVariant &value)
    {
        if (value.typeId() != QMetaType::QVariantMap) {
            note(key, describe(value) + QStringLiteral(" is no font; Helvetica-Bold 10 stands in"));
            return OVNHelper::encodeFontWithName(QStringLiteral("Helvetica-Bold"), 10.0);
        }
        QVariantMap font = value.toMap();
        bool changed = false;
        const QString nameKey = QStringLiteral("NAME");
        const QString sizeKey = QStringLiteral("SIZE");
        if (font.contains(nameKey) && !isString(font.value(nameKey))) {
            note(key, QStringLiteral("its font name is ") + describe(font.value(nameKey))
                          + QStringLiteral("; Helvetica-Bold stands in"));
            font.insert(nameKey, QStringLiteral("Helvetica-Bold"));
            changed = true;
        }
        if (font.contains(sizeKey)) {
            const QVariant size = font.value(sizeKey);
            const double points = isScalar(size) && size.typeId() != QMetaType::Bool ? numberOf(size) : NAN;
            if (!std::isfinite(points) || points < 1.0 || points > 200.0) {
                note(key, QStringLiteral("its font size ") + describe(size)
                              + QStringLiteral(" is no size from 1 to 200; 10 stands in"));
                font.insert(sizeKey, QStringLiteral("10.0000"));
                changed = true;
            }
        }
        return changed ? QVariant(font) : QVariant();
    }

    int m_index;
    QList<OVNLayoutProblem> &m_problems;
};

std::atomic<bool> reportedThisRun{false};

} // namespace

OVNLayoutListReading OVNThumbnailLayoutList::read(const QVariant &stored)
{
    OVNLayoutListReading reading;
    reading.stored = stored;
    const QVariantList builtIns = OVNThumbnailHelper::builtInLayouts();
    auto useBuiltIn = [&](int index) {
        reading.layouts.append(builtIns.at(index));
        reading.fromStore.append(false);
    };

    const bool isList = stored.typeId() == QMetaType::QVariantList;
    const QVariantList list = isList ? stored.toList() : QVariantList();
    if (!stored.isValid() || list.isEmpty()) {
        // Absent or empty: nothing was stored yet. Anything else that is no list is repaired.
        const bool wrongKind = stored.isValid() && !isList;
        for (int i = 0; i < layoutCount; ++i) {
            useBuiltIn(i);
            if (wrongKind)
                reading.problems.append({i, wholeLayout,
                                         QStringLiteral("the stored list is ") + describe(stored)
                                             + QStringLiteral(", not a list of layouts; ") + builtInStandsIn(i)});
        }
        return reading;
    }

    for (int i = 0; i < layoutCount; ++i) {
        if (i >= list.size()) {
            useBuiltIn(i);
            reading.problems.append(
                {i, wholeLayout, QStringLiteral("the stored list ends before it; ") + builtInStandsIn(i)});
            continue;
        }
        const QVariant &entry = list.at(i);
        if (entry.typeId() != QMetaType::QVariantMap) {
            useBuiltIn(i);
            reading.problems.append({i, wholeLayout,
                                     QStringLiteral("stored as ") + describe(entry) + QStringLiteral(", not a layout; ")
                                         + builtInStandsIn(i)});
            continue;
        }
        Repairer repairer(i, reading.problems);
        reading.layouts.append(repairer.repair(entry.toMap()));
        reading.fromStore.append(true);
    }
    if (list.size() > layoutCount)
        reading.problems.append({layoutCount, wholeLayout,
                                 QStringLiteral("the stored list has %1 entries; no thumbnail style uses those from "
                                                "layout %2 on, so they are left out")
                                     .arg(list.size())
                                     .arg(layoutCount)});
    return reading;
}

OVNLayoutListReading OVNThumbnailLayoutList::read(const UserDefaults &defaults)
{
    OVNLayoutListReading reading = read(defaults.objectForKey(preferenceKey));
    if (reading.repaired() && !reportedThisRun.exchange(true)) {
        const QString text = message(reading, QString());
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    }
    return reading;
}

QStringList OVNThumbnailLayoutList::problemLines(const OVNLayoutListReading &reading)
{
    QStringList lines;
    for (const OVNLayoutProblem &problem : reading.problems) {
        const QString name = problem.layout < reading.layouts.size()
                                 ? reading.layouts.at(problem.layout).toMap().value(QStringLiteral("NAME")).toString()
                                 : QString();
        QString line = QStringLiteral("layout %1").arg(problem.layout);
        if (!name.isEmpty())
            line += QStringLiteral(" \"%1\"").arg(name.size() > 40 ? name.left(40) + QStringLiteral("...") : name);
        if (problem.key != wholeLayout)
            line += QStringLiteral(", ") + problem.key;
        lines.append(line + QStringLiteral(": ") + problem.reason + QLatin1Char('.'));
    }
    return lines;
}

QString OVNThumbnailLayoutList::message(const OVNLayoutListReading &reading, const QString &keptCopyPath)
{
    if (!reading.repaired())
        return QString();
    QString text = QStringLiteral("The stored thumbnail layouts (\"%1\") hold values that cannot be used; "
                                  "they are read as follows, and the stored list is left as it is:\n")
                       .arg(preferenceKey);
    for (const QString &line : problemLines(reading))
        text += QStringLiteral("  ") + line + QLatin1Char('\n');
    if (!keptCopyPath.isEmpty())
        text += QStringLiteral("The first change in the layout editor stores the repaired list; the list as it "
                               "was stored is kept first in %1.")
                    .arg(QDir::toNativeSeparators(keptCopyPath));
    return text.trimmed();
}

QString OVNThumbnailLayoutList::keptCopyPath(const UserDefaults &defaults)
{
    const QString preferences = defaults.filePath();
    if (preferences.isEmpty())
        return QString();
    const QDir folder = QFileInfo(preferences).absoluteDir();
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? QStringLiteral("ThumbnailLayoutList.kept.plist")
                                    : QStringLiteral("ThumbnailLayoutList.kept-%1.plist").arg(n);
        const QString path = folder.filePath(name);
        if (!QFileInfo::exists(path))
            return path;
    }
    return QString();
}

bool OVNThumbnailLayoutList::writeKeptCopy(const QVariant &stored, const QString &path, QString *error)
{
    QString problem;
    const QByteArray xml = PropertyList::writeXml(stored, &problem);
    if (xml.isEmpty()) {
        if (error)
            *error = QStringLiteral("The stored list cannot be written as a property list: %1").arg(problem);
        return false;
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    // As private as the preferences file it was taken from.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(xml) != xml.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("The stored list could not be kept in %1: %2")
                         .arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}
