#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Turns a smart folder's stored search settings ({"CATALOG": ..., "LINES": [...]}) into the select
// statement that lists its media. The find sheet's compiler is built in; tests may install another.
class OVNSmartFolderSearch
{
public:
    // One item of the search-in list: its title and the category ids it stands for.
    struct Catalog {
        QString title;
        QStringList ids;
        QString kind; // the category's kind, whose outline icon the find sheet shows; empty for "All Entries"
    };

    virtual ~OVNSmartFolderSearch() = default;
    // The complete select statement of the media list over the window's search-in list, or "" with
    // the reason in `refusal` when the settings give none.
    virtual QString searchClause(const QVariantMap &settings, const QList<Catalog> &catalogs, bool onServer,
                                 QString *refusal) const = 0;
};
