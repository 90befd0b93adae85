#pragma once

#include <QFlags>
#include <QList>
#include <QString>

#include <optional>

class OVNMediaDetails;
class QObject;

// What the details pane reads from and writes to: the catalog window (the entries selected in its
// thumbnail view, stored in the catalog) or an annotation buffer of the auto-fill sheet and the
// smart-add pane (values kept for many entries at once). The pane never touches the catalog itself.
//
// Every read and write takes the pane as its first argument. Values are strings; a null string is
// "no value" and shows as an empty field. Field ids are media-record keys ("keywords", "mid", ...)
// for the record operations, and the purchased and sold tables' columns ("licensetype", "owner",
// "customer", ...) for the licence operations.
//
// Optional operations come with a default and are sent only when the data source declares them in
// `capabilities()`: the pane asks once for the first three when the data source is set, and for the
// access check and the three actions just before each send. The others are required of every data
// source (the metadata rows only of one used outside auto-fill mode).
class OVNMediaDetailsDataSource
{
public:
    enum class Capability : unsigned {
        StringForID = 1u << 0,    // ovnMediaDetailsStringForID
        SelectionCount = 1u << 1, // ovnMediaDetailsSelectionCount (and with it the selected rows)
        Selections = 1u << 2,     // ovnMediaDetailsSelections
        AccessCheck = 1u << 3,    // isUserAuthorizedForAccessCurrentSelectionWithType
        BurnCD = 1u << 4,         // buttonBurnCDClick
        AutoFill = 1u << 5,       // buttonAutoFillClick
        SendAsEmail = 1u << 6,    // buttonSendAsEmailClick
        StoredValue = 1u << 7,    // ovnMediaDetailsStoredValue
    };
    // Where a field's value is stored: the media record, the purchased or the sold licence.
    enum class Table { Media, Purchased, Sold };
    Q_DECLARE_FLAGS(Capabilities, Capability)

    virtual ~OVNMediaDetailsDataSource();

    // The optional operations this data source answers.
    virtual Capabilities capabilities() const = 0;

    // --- optional --------------------------------------------------------------------------------
    // The value of the one selected entry under `key`; "" when none or several are selected.
    virtual QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key);
    // The number of selected entries.
    virtual int ovnMediaDetailsSelectionCount(OVNMediaDetails *pane);
    // The selected rows of the data source's own list, in the order they were selected.
    virtual QList<int> ovnMediaDetailsSelections(OVNMediaDetails *pane);
    // The value under `key` of the entry in `row`; "" for a row out of range. Required of a data
    // source that offers the selection count.
    virtual QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *pane, const QString &key, int row);

    // Whether the current user holds `privilegeLevel` ("READ & WRITE", ...) for the selection; with
    // `showAlert` the data source tells the user itself when not.
    virtual bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &privilegeLevel, bool showAlert);
    // The actions of the three areas the pane shows while several entries are selected; `sender` is
    // the pane.
    virtual void buttonBurnCDClick(QObject *sender);
    virtual void buttonAutoFillClick(QObject *sender);
    virtual void buttonSendAsEmailClick(QObject *sender);
    // The value the store holds now for `key` of the entry `mediaId` in `table`, read afresh, with
    // later reads of the data source in step with it; nothing when it cannot be read. The pane asks
    // before it hands over a text it kept, to find whether someone else changed the value since.
    virtual std::optional<QString> ovnMediaDetailsStoredValue(OVNMediaDetails *pane, Table table, const QString &key,
                                                              const QString &mediaId);

    // --- required --------------------------------------------------------------------------------
    virtual QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) = 0;
    virtual QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) = 0;
    // Store `value` for the entry `mediaId` (the "mid" the pane read when the edit began) and keep
    // later reads in step with it.
    virtual void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                               const QString &mediaId) = 0;
    virtual void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value,
                                                        const QString &column, const QString &mediaId) = 0;
    virtual void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                   const QString &mediaId) = 0;

    // The stored metadata of the one selected entry, row by row from 0 (required outside auto-fill
    // mode; the defaults answer an empty list).
    virtual int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *pane);
    virtual QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *pane, int row);
    virtual QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(OVNMediaDetailsDataSource::Capabilities)
