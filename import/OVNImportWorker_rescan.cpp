// The re-processing of entries already in the catalog: their files are read again for a new
// thumbnail, orientation and import date.

#include "import/OVNImportWorker.h"

#include "catalogdb/OVNDatabaseAccess.h"
#include "formats/OVNExtensionMapping.h"
#include "formats/PBMImageRep.h"
#include "import/OVNImportHelper.h"

#include <QFileInfo>

void OVNImportWorker::startReprocess(const QVariantList &records, Observer *observer)
{
    wait();
    m_thread = std::thread([this, records, observer] { reprocess(records, observer); });
}

OVNImportWorker::Summary OVNImportWorker::reprocess(const QVariantList &records, Observer *observer)
{
    Summary summary;
    summary.total = int(records.size());
    const auto finish = [&]() -> Summary {
        if (observer)
            observer->importFinished(summary);
        return summary;
    };
    std::unique_ptr<OVNDatabaseAccess> connection = m_connections ? m_connections() : nullptr;
    if (!connection || !connection->isDBConnectionActive()) {
        summary.connectionFailed = true;
        return finish();
    }
    PBMImageRep::registerImageRepClass();
    if (observer) {
        observer->importStarted(summary.total);
        observer->importStatus(QStringLiteral("Starting file rescan..."));
    }
    OVNImportHelper helper(std::make_shared<const OVNExtensionMapping>());
    helper.setPreferences(OVNImportHelper::readPreferences());
    int position = 0;
    for (const QVariant &entry : records) {
        if (isCancelled()) {
            summary.cancelled = true;
            break;
        }
        const QVariantMap item = entry.toMap();
        const QString mid = item.value(QStringLiteral("mid")).toString();
        const QString path = item.value(QStringLiteral("absolutepath")).toString();
        QByteArray thumbnail;
        if (!mid.isEmpty() && !path.isEmpty() && QFileInfo(path).isFile()) {
            QVariantMap record;
            thumbnail = helper.thumbnailForMediaFile(path, record);
            if (thumbnail.isEmpty()) {
                summary.failures.append({path, helper.lastProblem()});
            } else {
                // The three go together or the entry keeps what it had.
                const bool ok = connection->beginTransaction()
                    && connection->updateThumbnailForMediaID(mid, thumbnail)
                    && (!record.contains(QStringLiteral("Orientation"))
                        || connection->updateMediaListEntry(mid, QStringLiteral("orientation"),
                                                            record.value(QStringLiteral("Orientation")).toString(),
                                                            OVNDatabaseAccess::BareValue))
                    && connection->updateMediaListEntry(mid, QStringLiteral("dts"),
                                                        record.value(QStringLiteral("dts")).toString())
                    && connection->commitTransaction();
                if (ok) {
                    summary.importedIds.append(mid);
                } else {
                    if (connection->transactionDepth() > 0)
                        connection->rollbackTransaction();
                    summary.failures.append({path, connection->getLastErrorMessage()});
                }
            }
        }
        ++summary.processed;
        if (observer)
            observer->importProgress(++position, summary.total, path, thumbnail);
    }
    return finish();
}
