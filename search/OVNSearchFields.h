#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

// What the searches may test, in one place: every column of the tables a search joins, with what
// it holds and whether it is long, and the fields the find line and the express panel's two menus
// offer over them. The expert checker admits exactly these columns and counts the tests of the
// long ones; the find line, the quick search and the expert menu take their columns from the same
// rows, so that a column added here is offered, checked and counted alike.
namespace OVNSearchFields {

// What a column holds.
enum class Holds { Text, Binary, Number, Date };

// Whether a column may hold a text or a picture of any length. Every test of a long column is
// counted in what a search asks of the catalog server for each entry (OVNExpertCondition::Cost),
// and the search holds that cost to the stored size of the fields before it runs; a short column
// holds at most a few hundred characters on a server and costs nothing there. SQLite keeps no
// column to its declared width, so that there every column counts as long.
enum class Length { Short, Long };

struct Column {
    const char *table;
    const char *name; // in lower case, as the checker compares it
    Holds holds;
    Length length;
};

// The columns of strvfile, strvexif, strvpurchased and strvsold, each table's in the order its
// create script makes them.
const std::vector<Column> &columns();
// The column `name` (any case) of `table`, or of the first table that has one of that name when
// `table` is empty; nullptr when there is none.
const Column *column(QStringView table, QStringView name);
// The names of `table`'s columns in order; none for a table the searches do not join.
QStringList columnsOf(QStringView table);

// How a field is tested: the find line's operators and the expert menu's clause template.
enum class Kind { Text = 1, Number = 2, Date = 3, Choice = 4, YesNo = 5 };

// The menus a field is offered in.
enum Menu { FindLineMenu = 1, ExpertMenu = 2, BothMenus = FindLineMenu | ExpertMenu };

// The quick search's tags: the menu of each of its four fields.
enum QuickTag {
    QuickAll = 0,
    QuickDisplayTag = 1,
    QuickKeywords = 2,
    QuickShortDescription = 3,
    QuickFullDescription = 4,
    QuickRating = 5,
    NoQuickTag = -1
};

struct Field {
    const char *group; // the header above the field in the menus ("" within a group)
    const char *title;
    const char *table;
    // A column of `table`, or two of them multiplied ("imagewidth*imageheight").
    const char *column;
    Kind kind;
    QStringList selections; // Choice only: the titles, their position the stored value
    int menus = BothMenus;
    // The column the expert menu inserts where it is not `column`.
    const char *expertColumn = nullptr;
    // The quick search's tag and title for the field, where its menu offers it.
    int quickTag = NoQuickTag;
    const char *quickTitle = nullptr;
};

// Every field in menu order.
const std::vector<Field> &fields();
// The columns a field names, "table.column" each.
QStringList qualifiedColumns(const Field &field);
// The field the quick search's tag searches; nullptr for All and for a tag it lacks.
const Field *quickField(int tag);

} // namespace OVNSearchFields
