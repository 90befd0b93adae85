#pragma once

#include <QString>
#include <QVariantMap>

// Turns a smart folder's stored search settings ({"CATALOG": ..., "LINES": [...]}) into the select
// statement that lists its media. The find sheet provides it; until one is installed, smart
// folders show no media.
class OVNSmartFolderSearch
{
public:
    virtual ~OVNSmartFolderSearch() = default;
    // The complete select statement of the media list, or "" when the settings give none.
    virtual QString searchClause(const QVariantMap &settings) const = 0;
};
