#pragma once

#include <QString>
#include <QVariantMap>

// The text kept in a category's "comment" column: empty, or one property-list dictionary in XML
// or in the old text form. It carries the groups' privileges ("PRIVILEGES"), a surveillance
// folder's disk folder ("SURVEILLANCEFOLDER") and a smart folder's stored search ("CATALOG",
// "LINES"). Readers take only their own keys and ignore the rest.
class OVNCategoryComment
{
public:
    // The dictionary the text holds; empty when the text is empty or holds anything else.
    static QVariantMap dictionary(const QString &comment);
    // Whether the text holds a dictionary at all.
    static bool holdsDictionary(const QString &comment);
    // The XML form (written by the privileges window) and the text form (written when surveillance
    // and smart folders are made).
    static QString xmlForm(const QVariantMap &dictionary);
    static QString textForm(const QVariantMap &dictionary);
    // The comment with "PRIVILEGES" replaced, every other key kept, in XML form.
    static QString withPrivileges(const QString &comment, const QVariantList &privileges);
};
