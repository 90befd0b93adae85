#pragma once

#include "browser/OVNMediaDetailsDataSource.h"

#include <QMap>
#include <QString>

#include <optional>

// The annotation edits that the auto-fill sheet and the smart-add pane collect for many entries at
// once: the record, purchased and sold fields the user edited, and the pane's file-name and folder
// choices for "keywords" and "shortdesc".
//
// A map holds only the fields that were edited: an absent key leaves the field alone, an empty
// value means the user emptied the field.
class AnnotationChanges
{
public:
    enum class Mode { Overwrite = 0, Append = 1, Merge = 2 };
    enum class Table { Info, Purchased, Sold };

    QMap<QString, QString> info;      // media record keys
    QMap<QString, QString> purchased; // purchased-licence columns
    QMap<QString, QString> sold;      // sold-licence columns
    bool keywordsAddFilename = false;
    int keywordsParseFolders = 0;
    bool shortDescriptionAddFilename = false;
    int shortDescriptionParseFolders = 0;

    bool isEmpty() const;
    const QMap<QString, QString> &changes(Table table) const;
    QMap<QString, QString> &changes(Table table);

    // Whether the auto-fill sheet's pane offers the field: of the record "keywords", "shortdesc",
    // "fulldesc", "modrelinfo", "proprelinfo", "volumename", "modrelavailable" and
    // "proprelavailable"; of the purchased licence "licensetype", "licenserestrictions", "owner",
    // "ordernumber" and "photographer"; of the sold licence "licensetype", "licenserestrictions"
    // and "customer". Nothing else is ever written from a buffer: neither the record's category,
    // file, type or cataloguing fields nor its id.
    static bool isOfferedField(Table table, const QString &key);

    // The first edited field that the pane does not offer, as "purchased.KEY", "sold.KEY" or the
    // record's key; nothing when every one is offered.
    std::optional<QString> firstFieldNotOffered() const;

    // Codes rather than text ("modrelavailable", "proprelavailable", "licensetype"): never joined
    // with a stored value, and left alone by an append.
    static bool isFlagField(Table table, const QString &key);

    // What to write into a field whose stored value is `existing` (none when it has no value) for
    // the edited value `edited`; nothing when the field stays as it is. An emptied field writes
    // nothing unless `clearEmptyFields`, and then clears the field whatever the mode.
    static std::optional<QString> valueToWrite(Mode mode, bool flagField, const std::optional<QString> &existing,
                                               const QString &edited, bool clearEmptyFields);

    // The keywords or short description with the file's name and folder names added (blanks and
    // tabs trimmed); nothing when that is the stored text already or nothing is asked for.
    static std::optional<QString> textWithFileWords(const QString &current, const QString &path, bool addFilename,
                                                    int folderCount);
};

// The details pane's data source in auto-fill mode: every edit goes into the buffers, every read
// comes from them ("" for a field not edited). The media id passed with an edit does not matter.
class AnnotationBuffer : public OVNMediaDetailsDataSource
{
public:
    Capabilities capabilities() const override { return Capability::StringForID; }
    QString ovnMediaDetailsStringForID(OVNMediaDetails *pane, const QString &key) override;
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) override;
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) override;
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mediaId) override;
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                                const QString &mediaId) override;
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *pane, const QString &value, const QString &column,
                                           const QString &mediaId) override;

    // The buffers with the pane's file-name and folder choices.
    AnnotationChanges changes(const OVNMediaDetails *pane) const;

private:
    AnnotationChanges m_changes;
};
