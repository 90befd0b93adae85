#pragma once

#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "platform/MediaRecord.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMap>
#include <QMouseEvent>

#include <ostream>
#include <vector>

// A data source for the details pane tests: records with a selection, licences and metadata per
// entry, the capabilities it declares, and a log of everything the pane wrote and asked.
class DetailsFakeDataSource : public OVNMediaDetailsDataSource
{
public:
    struct Write {
        OVNMediaDetails::Store store;
        QString value;
        QString key;
        QString mid;
        bool operator==(const Write &) const = default;
        friend void PrintTo(const Write &write, std::ostream *out)
        {
            *out << int(write.store) << " \"" << write.value.toStdString() << "\" " << write.key.toStdString() << " "
                 << write.mid.toStdString();
        }
    };

    static Capabilities catalogCapabilities()
    {
        return Capability::StringForID | Capability::SelectionCount | Capability::Selections | Capability::AccessCheck
               | Capability::BurnCD | Capability::AutoFill | Capability::SendAsEmail;
    }

    Capabilities capabilities() const override { return declared; }

    QString ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key) override
    {
        asked.append(key);
        return selection.size() == 1 ? records.at(selection.first())->string(key) : QString();
    }
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *) override { return int(selection.size()); }
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *) override { return selection; }
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &key, int row) override
    {
        return row >= 0 && row < records.size() ? records.at(row)->string(key) : QString();
    }
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &level, bool showAlert) override
    {
        accessChecks.append(level + (showAlert ? QStringLiteral("/alert") : QStringLiteral("/quiet")));
        return writable;
    }
    void buttonBurnCDClick(QObject *sender) override { actions.append({QStringLiteral("burn"), sender}); }
    void buttonAutoFillClick(QObject *sender) override { actions.append({QStringLiteral("autofill"), sender}); }
    void buttonSendAsEmailClick(QObject *sender) override { actions.append({QStringLiteral("email"), sender}); }

    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *, const QString &column) override
    {
        return purchased.value(currentMid()).value(column);
    }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *, const QString &column) override
    {
        return sold.value(currentMid()).value(column);
    }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *pane, const QString &value, const QString &key,
                                       const QString &mid) override
    {
        // As the catalog window answers a write it could not store, or that it refused.
        if (answer == Answer::Unreachable) {
            pane->keepUnsavedEdit();
            return;
        }
        if (answer == Answer::Refused) {
            pane->refuseHandedOverEdit();
            return;
        }
        writes.push_back({OVNMediaDetails::Store::Annotation, value, key, mid});
        for (const MediaRecordRef &record : records) {
            if (record->string(QStringLiteral("mid")) == mid)
                record->insert(key, value);
        }
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value, const QString &column,
                                                const QString &mid) override
    {
        writes.push_back({OVNMediaDetails::Store::Purchased, value, column, mid});
        purchased[mid][column] = value;
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value, const QString &column,
                                           const QString &mid) override
    {
        writes.push_back({OVNMediaDetails::Store::Sold, value, column, mid});
        sold[mid][column] = value;
    }
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *) override { return int(exifTags.size()); }
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *, int row) override
    {
        return row >= 0 && row < exifTags.size() ? exifTags.at(row) : QString();
    }
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *, int row) override
    {
        return row >= 0 && row < exifValues.size() ? exifValues.at(row) : QString();
    }

    QString currentMid() const
    {
        return selection.size() == 1 ? records.at(selection.first())->string(QStringLiteral("mid")) : QString();
    }

    MediaRecordRef addRecord(const QString &mid, const QString &path, const QString &fileSize)
    {
        auto record = std::make_shared<MediaRecord>();
        record->insert(QStringLiteral("mid"), mid);
        record->insert(QStringLiteral("absolutepath"), path);
        record->insert(QStringLiteral("filesize"), fileSize);
        record->insert(QStringLiteral("displaytag"), path.section(QLatin1Char('/'), -1));
        records.append(record);
        return record;
    }

    Capabilities declared = catalogCapabilities();
    MediaList records;
    QList<int> selection;
    bool writable = true;
    enum class Answer { Stored, Unreachable, Refused } answer = Answer::Stored; // of annotation writes
    QMap<QString, QMap<QString, QString>> purchased, sold;
    QStringList exifTags, exifValues;

    std::vector<Write> writes;
    QStringList asked;
    QStringList accessChecks;
    QList<QPair<QString, QObject *>> actions;
};

// What a user does, sent straight to the widgets.
namespace userInput {

inline void type(QLineEdit *field, const QString &text)
{
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &press);
    }
}

inline void pressReturn(QLineEdit *field)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(field, &press);
}

inline void click(QWidget *widget, const QPoint &at)
{
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::LeftButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &down);
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::LeftButton,
                   Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &up);
}

} // namespace userInput
