#pragma once

#include <QCoreApplication>
#include <QLocale>
#include <QString>

// The user-visible strings, looked up with the English text as the key. The default table is
// "Localizable"; menus and toolbars use "Menu", metadata names and values "Metadata".
inline QString localized(const char *english) { return QCoreApplication::translate("Localizable", english); }

inline QString localizedMenu(const char *english) { return QCoreApplication::translate("Menu", english); }

inline QString localizedMetadata(const char *english) { return QCoreApplication::translate("Metadata", english); }

// For keys known only at run time (metadata names read from a table, stored titles).
inline QString localized(const QString &english)
{
    return QCoreApplication::translate("Localizable", english.toUtf8().constData());
}

inline QString localizedMenu(const QString &english)
{
    return QCoreApplication::translate("Menu", english.toUtf8().constData());
}

inline QString localizedMetadata(const QString &english)
{
    return QCoreApplication::translate("Metadata", english.toUtf8().constData());
}

// A count as every text writes it: grouped as the user's language does ("6,010"); without a
// language, as in English.
inline QString countText(qint64 count)
{
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    return locale.toString(count);
}

// A count with the word that agrees with it: "1 Item", "0 Items", "2 Items", "6,010 Items". `one`
// and `many` are looked up like any text and hold %1 for the number.
inline QString countedText(qint64 count, const char *one, const char *many)
{
    return localized(count == 1 ? one : many).arg(countText(count));
}
