#pragma once

#include <QString>

// The names of the catalog's tables and columns as statements, records and category nodes spell
// them: one spelling for every layer. A media record's 26 keys, in the order of the media select
// list, are MediaRecord::fieldKeys().
namespace CatalogNames {

// Tables.
inline const QString mediaTable = QStringLiteral("strvfile");
inline const QString setMembershipTable = QStringLiteral("strvset");

// Columns, and the keys of records and category nodes named after them.
inline const QString keyMid = QStringLiteral("mid");
inline const QString keyType = QStringLiteral("type");
inline const QString keyDisplayTag = QStringLiteral("displaytag");
inline const QString keyComment = QStringLiteral("comment");
inline const QString keyCategoryId = QStringLiteral("categoryid");
inline const QString keyAbsolutePath = QStringLiteral("absolutepath");
inline const QString keyRating = QStringLiteral("rating");
inline const QString keyOrientation = QStringLiteral("orientation");
inline const QString keyThumbImage = QStringLiteral("thumbimage");
// The user's own privilege level on a category, as category nodes carry it.
inline const QString keyPrivileges = QStringLiteral("MYPRIVILEGES");

} // namespace CatalogNames
