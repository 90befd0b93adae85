#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

#include "platform/MediaRecord.h"

// One row of a statement's result while it is being read, whatever the vendor. Each execution
// branch (SQLite, PostgreSQL) supplies its own; the catalog operations read rows only through this.
//
// The value model, the same for both vendors: a non-null value is text (numbers and dates in their
// text form), except binary columns, which are data; a SQL NULL is a null marker (an invalid
// QVariant) in value(), and the empty text in text().
class OVNResultRow
{
public:
    virtual ~OVNResultRow() = default;

    virtual int columnCount() const = 0;
    // The column's name as the statement gives it (not lower-cased).
    virtual QString columnName(int column) const = 0;
    virtual bool isNull(int column) const = 0;
    // The column as text; the empty text for NULL.
    virtual QString text(int column) const = 0;
    // The column's bytes (blob or bytea); empty for NULL.
    virtual QByteArray data(int column) const = 0;
    // Text, data for a binary column, or QVariant() for NULL.
    virtual QVariant value(int column) const = 0;
};

// A media list row (the 26 columns of the media select list) as a shared record: every key set,
// a SQL NULL as the empty text, the texts placed in one go. Only the columns in `fields` (bits of
// MediaRecord::Field) are read; the others are left empty.
MediaRecordRef mediaRecordFromRow(const OVNResultRow &row, std::uint32_t fields = MediaRecord::allFields);
