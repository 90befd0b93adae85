#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QStringList>

// Themed icons and background colours from an icon set: a folder in the resources' "IconSets"
// folder with one image per icon name and an "info.xml" property list holding the set's title
// ("displaytag") and its colours. The preference "ColorScheme" names the set; it is chosen once,
// when the shared instance is made, so a change takes effect at the next start.
//
// Nothing is cached: every icon and colour is read from its file when asked. A missing set, icon or
// colour never stops anything: icons come back null, colours white.
class OVNIconSetHelper
{
public:
    static constexpr const char *defaultIconSetName = "Velmor Aqua";

    // Uses the set that "ColorScheme" names, or "Velmor Aqua".
    OVNIconSetHelper();
    // Uses the given set name as the preference value would be.
    explicit OVNIconSetHelper(const QString &colorScheme);

    static OVNIconSetHelper &sharedIconSet();

    // The set a "ColorScheme" value selects: the value when it names a folder in `iconSetsFolder`,
    // otherwise "Velmor Aqua" (whether or not that folder exists).
    static QString resolveIconSet(const QString &colorScheme, const QString &iconSetsFolder);
    // "<resources>/IconSets".
    static QString iconSetsFolder();
    // The extensions tried for an icon, in order.
    static QStringList iconExtensions();

    QString defaultIconSet() const { return defaultIconSet_; }

    // The set's folder; empty for an empty name or when there are no resources.
    QString iconSetPath(const QString &iconSetName) const;
    // The path of an icon's file in a set: the first existing "<name>.<ext>"; empty when none.
    QString iconFilePath(const QString &iconName, const QString &iconSetName) const;

    QImage toolbarIconFor(const QString &iconName) const;
    QImage toolbarIconFor(const QString &iconName, const QString &iconSetName) const;
    QColor colorFor(const QString &colorName) const;
    QColor colorFor(const QString &colorName, const QString &iconSetName) const;

    // The icon name for a category kind ("EXPANDABLE", "F", "C", "M", "I", "S", or a null string for a
    // collection) at a row height: full size above 16, the "Mini" icon at 16 or less. Empty for an
    // unknown kind.
    static QString outlineIconNameForType(const QString &kind, float height);
    QImage outlineIconForType(const QString &kind, float height) const;

private:
    QString defaultIconSet_;
};
