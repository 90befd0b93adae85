#pragma once

#include "../catalogdb/CatalogFixture.h"
#include "../support/CatalogUsers.h"
#include "../support/ScriptedAlertPresenter.h"

#include "app/OVNAssetManager.h"
#include "app/OVNViewerDocuments.h"
#include "browser/OVNMediaView.h"
#include "catalogdb/OVNDBHelper.h"

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

// The display names a thumbnail view holds, sorted.
inline QStringList shownNames(const OVNMediaView *view)
{
    QStringList result;
    for (const MediaRecordRef &record : view->mediaContainer())
        result.append(record->field(MediaRecord::DisplayTag));
    result.sort();
    return result;
}

// The picture as JPEG bytes, at `quality` (-1: the encoder's default).
inline QByteArray jpegBytes(const QImage &image, int quality = -1)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return data;
}

// A picture of one colour as JPEG bytes, for thumbnails.
inline QByteArray filledJpeg(QSize size, Qt::GlobalColor color, int quality = -1)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return jpegBytes(image, quality);
}

// Viewers that note what they were asked to open ("image NAME ORIENTATION", "movie NAME").
class RecordingViewers : public OVNViewerDocuments
{
public:
    bool openImage(const QString &path, int orientation, const std::function<bool()> &check) override
    {
        handOnCheck = check;
        calls.append(QStringLiteral("image %1 %2").arg(QFileInfo(path).fileName()).arg(orientation));
        return true;
    }
    bool openMovie(const QString &path, const std::function<bool()> &check) override
    {
        handOnCheck = check;
        calls.append(QStringLiteral("movie ") + QFileInfo(path).fileName());
        return true;
    }
    QStringList calls;
    std::function<bool()> handOnCheck; // the last viewer's
};

// Catalog windows over a test catalog on each vendor: adds categories and entries, and opens
// windows that the test's TearDown closes again (through `windows`).
class CatalogWindowFixture : public CatalogFixture
{
protected:
    QString category(const char *name, const char *kind, const QString &parent = QString())
    {
        const QString mid = db.addCategoryListEntry(QString::fromUtf8(name), QString::fromLatin1(kind));
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        if (!parent.isEmpty()) {
            EXPECT_TRUE(db.setCategoryListEntrySuperMID(mid, parent));
        }
        return mid;
    }

    QString entry(const QString &categoryId, const char *name)
    {
        const QString mid = db.addMediaListEntry(importRecord(categoryId, QString::fromUtf8(name)));
        EXPECT_FALSE(mid.isEmpty()) << qPrintable(db.getLastErrorMessage());
        return mid;
    }

    // An entry per name in the category, each with `thumbnail` and orientation 1; their ids.
    QStringList entriesWithThumbnail(const QString &categoryId, const QStringList &names, const QByteArray &thumbnail)
    {
        QStringList mids;
        for (const QString &name : names) {
            QVariantMap record = importRecord(categoryId, name);
            record.insert("thumbimage", thumbnail);
            record.insert("Orientation", 1);
            mids.append(db.addMediaListEntry(record));
            EXPECT_FALSE(mids.last().isEmpty()) << qPrintable(db.getLastErrorMessage());
        }
        return mids;
    }

    // A window over its own connection to the test catalog (or the one given), with its tree loaded.
    OVNAssetManager *loadWindow(std::shared_ptr<OVNDatabaseAccess> connection = nullptr)
    {
        auto *window = new OVNAssetManager;
        window->setDatabaseConnection(connection ? std::move(connection)
                                                 : std::shared_ptr<OVNDatabaseAccess>(openAnother()));
        window->windowControllerDidLoadNib();
        windows.append(window);
        return window;
    }

    // An entry's column as the catalog stores it, and the value the window's thumbnail view holds.
    QString stored(const QString &mid, const char *column) { return db.getMediaListEntryForMediaID(mid, column); }
    QString shown(OVNAssetManager *window, const QString &mid, const char *key)
    {
        return window->mediaView()->mediaObject(key, window->mediaView()->rowForMid(mid)).toString();
    }

    void closeWindows()
    {
        for (const QPointer<OVNAssetManager> &window : std::as_const(windows))
            delete window.data();
        windows.clear();
    }

    // The test catalog with its alerts scripted into `presenter`; false when the test stops here
    // (skipped, or the catalog could not be made).
    bool setUpWithAlerts()
    {
        CatalogFixture::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return false;
        presenter = ScriptedAlertPresenter::install();
        return true;
    }
    // Closes the windows, then drops the scripted alerts and the catalog.
    void tearDownWithAlerts()
    {
        closeWindows();
        Alerts::setPresenter(nullptr);
        CatalogFixture::TearDown();
    }

    ScriptedAlertPresenter *presenter = nullptr;

    QList<QPointer<OVNAssetManager>> windows;
};
