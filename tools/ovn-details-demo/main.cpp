// ovn-details-demo OUTDIR: shows the details pane over an in-memory data source in its states (one
// entry on each tab, two entries, a read-only entry, auto-fill mode, no selection) and writes one
// PNG of each, rendered offscreen at twice the point size.

#include "browser/OVNMediaDetails.h"
#include "browser/OVNMediaDetailsDataSource.h"
#include "platform/CatalogNames.h"
#include "platform/MediaRecord.h"
#include "uikit/DrawingKit.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolText.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMap>
#include <QMenu>
#include <QPainter>
#include <QAbstractButton>
#include <QTextStream>

#include <functional>

namespace {

constexpr qreal scale = 2.0;

// A catalog window in miniature: a list of records, a selection, licences and metadata per entry.
class DemoDataSource : public OVNMediaDetailsDataSource
{
public:
    Capabilities capabilities() const override
    {
        return Capability::StringForID | Capability::SelectionCount | Capability::Selections | Capability::AccessCheck
               | Capability::BurnCD | Capability::AutoFill | Capability::SendAsEmail;
    }

    QString ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key) override
    {
        return selection.size() == 1 ? records.at(selection.first())->string(key) : QString();
    }
    int ovnMediaDetailsSelectionCount(OVNMediaDetails *) override { return int(selection.size()); }
    QList<int> ovnMediaDetailsSelections(OVNMediaDetails *) override { return selection; }
    QString ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &key, int row) override
    {
        return row >= 0 && row < records.size() ? records.at(row)->string(key) : QString();
    }
    bool isUserAuthorizedForAccessCurrentSelectionWithType(const QString &, bool) override { return writable; }
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *pane, const QString &column) override
    {
        return purchased.value(ovnMediaDetailsStringForID(pane, CatalogNames::keyMid)).value(column);
    }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *pane, const QString &column) override
    {
        return sold.value(ovnMediaDetailsStringForID(pane, CatalogNames::keyMid)).value(column);
    }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &value, const QString &key,
                                       const QString &mid) override
    {
        for (const MediaRecordRef &record : records) {
            if (record->string(CatalogNames::keyMid) == mid)
                record->insert(key, value);
        }
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value, const QString &column,
                                                const QString &mid) override
    {
        purchased[mid][column] = value;
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value, const QString &column,
                                           const QString &mid) override
    {
        sold[mid][column] = value;
    }
    int numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *) override { return int(exifKeys().size()); }
    QString ovnMediaDetailsExifTagAtRow(OVNMediaDetails *, int row) override
    {
        const QStringList keys = exifKeys();
        return row >= 0 && row < keys.size() ? keys.at(row) : QString();
    }
    QString ovnMediaDetailsExifValueAtRow(OVNMediaDetails *pane, int row) override
    {
        return currentExif().value(ovnMediaDetailsExifTagAtRow(pane, row));
    }

    QMap<QString, QString> currentExif() const
    {
        return selection.size() == 1 ? exif.value(records.at(selection.first())->string(CatalogNames::keyMid))
                                     : QMap<QString, QString>();
    }
    QStringList exifKeys() const
    {
        QStringList keys = currentExif().keys();
        std::sort(keys.begin(), keys.end(),
                  [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
        return keys;
    }

    MediaList records;
    QList<int> selection;
    bool writable = true;
    QMap<QString, QMap<QString, QString>> purchased, sold, exif;
};

// The buffer of the auto-fill sheet: values by key, no selection.
class DemoBuffer : public OVNMediaDetailsDataSource
{
public:
    Capabilities capabilities() const override { return Capability::StringForID; }
    QString ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key) override { return values.value(key); }
    QString ovnMediaDetailsPurchasedForID(OVNMediaDetails *, const QString &c) override { return purchased.value(c); }
    QString ovnMediaDetailsSoldForID(OVNMediaDetails *, const QString &c) override { return sold.value(c); }
    void ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &v, const QString &k, const QString &) override
    {
        values[k] = v;
    }
    void ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &v, const QString &c,
                                                const QString &) override
    {
        purchased[c] = v;
    }
    void ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &v, const QString &c,
                                           const QString &) override
    {
        sold[c] = v;
    }
    QMap<QString, QString> values, purchased, sold;
};

MediaRecordRef record(const QString &mid, const QString &name, const QString &path, const QString &size,
                      const QString &title, const QString &keywords)
{
    auto entry = std::make_shared<MediaRecord>();
    entry->insert(CatalogNames::keyMid, mid);
    entry->insert(CatalogNames::keyDisplayTag, name);
    entry->insert(CatalogNames::keyAbsolutePath, path);
    entry->insert(QStringLiteral("filesize"), size);
    entry->insert(QStringLiteral("keywords"), title);
    entry->insert(QStringLiteral("shortdesc"), keywords);
    entry->insert(QStringLiteral("fulldesc"), QStringLiteral("Low tide at the north beach, late afternoon light."));
    entry->insert(QStringLiteral("modrelavailable"), QStringLiteral("1"));
    entry->insert(QStringLiteral("modrelinfo"), QStringLiteral("MR-2008-114, signed"));
    entry->insert(QStringLiteral("proprelavailable"), QStringLiteral("0"));
    entry->insert(QStringLiteral("proprelinfo"), QString());
    entry->insert(QStringLiteral("volumename"), QStringLiteral("Archive 3"));
    entry->insert(QStringLiteral("cataloguedby"), QStringLiteral("Mara Vellin"));
    entry->insert(QStringLiteral("volumetype"), QStringLiteral("Local"));
    entry->insert(QStringLiteral("servername"), QStringLiteral("studio-ws2"));
    entry->insert(QStringLiteral("imagewidth"), QStringLiteral("3072"));
    entry->insert(QStringLiteral("imageheight"), QStringLiteral("2048"));
    entry->insert(QStringLiteral("filedts"), QStringLiteral("2008-07-19 17:42:10"));
    entry->insert(QStringLiteral("dts"), QStringLiteral("2008-08-02 09:15:31"));
    entry->insert(QStringLiteral("filetype"), QStringLiteral("Image"));
    entry->insert(CatalogNames::keyOrientation, QStringLiteral("1"));
    return entry;
}

// Renders the pane, and what `overlay` adds on top (a menu is a window of its own), to NAME.png.
bool writePng(QWidget &pane, const QString &folder, const QString &name,
              const std::function<void(QPainter &)> &overlay = {})
{
    QImage image(pane.size() * scale, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(QColor(232, 232, 232));
    pane.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    if (overlay) {
        QPainter painter(&image);
        overlay(painter);
    }
    const QString path = QDir(folder).filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        QTextStream(stderr) << "cannot write " << ToolText::printable(path) << "\n";
        return false;
    }
    QTextStream(stdout) << ToolText::printable(path) << "\n";
    return true;
}

} // namespace

constexpr const char *usageText = "usage: ovn-details-demo OUTDIR\n"
                                  "  writes one PNG per state of the details pane into OUTDIR\n";

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    DrawingKit::installApplicationStyle();
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        QTextStream(stderr) << usageText;
        return 2;
    }
    const QString folder = args.at(1);
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "cannot create " << ToolText::printable(folder) << "\n";
        return 1;
    }

    DemoDataSource catalog;
    catalog.records = {
        record(QStringLiteral("2008-08-02 09:15:31:114/M3f2a"), QStringLiteral("IMG_0412.JPG"),
               QStringLiteral("/srv/photos/2008/Trip/IMG_0412.JPG"), QStringLiteral("2483177"),
               QStringLiteral("North beach at low tide"), QStringLiteral("beach tide Trip 2008")),
        record(QStringLiteral("2008-08-02 09:15:32:020/M3f2a"), QStringLiteral("IMG_0413.JPG"),
               QStringLiteral("/srv/photos/2008/Trip/IMG_0413.JPG"), QStringLiteral("2611904"), QStringLiteral("Dunes"),
               QStringLiteral("dunes Trip")),
    };
    const QString firstMid = catalog.records.first()->string(CatalogNames::keyMid);
    catalog.purchased[firstMid] = {{QStringLiteral("licensetype"), QStringLiteral("1")},
                                   {QStringLiteral("licenserestrictions"), QStringLiteral("Print and web, Europe")},
                                   {QStringLiteral("owner"), QStringLiteral("Halden Picture Agency")},
                                   {QStringLiteral("ordernumber"), QStringLiteral("HPA-20080719-3")},
                                   {QStringLiteral("photographer"), QStringLiteral("J. Orrin")}};
    catalog.sold[firstMid] = {{QStringLiteral("licensetype"), QStringLiteral("0")},
                              {QStringLiteral("licenserestrictions"), QStringLiteral("Cover, one edition")},
                              {QStringLiteral("customer"), QStringLiteral("Coastline Magazine")}};
    catalog.exif[firstMid] = {{QStringLiteral("CameraMake"), QStringLiteral("Canon")},
                              {QStringLiteral("CameraModel"), QStringLiteral("Canon EOS 20D")},
                              {QStringLiteral("DateTime"), QStringLiteral("2008:07:19 17:42:10")},
                              {QStringLiteral("ExposureTime"), QStringLiteral("1/250 s")},
                              {QStringLiteral("ApertureFNumber"), QStringLiteral("f/8.0")},
                              {QStringLiteral("ISOequivalent"), QStringLiteral("100")},
                              {QStringLiteral("FocalLength"), QStringLiteral("35.0 mm")},
                              {QStringLiteral("Orientation"), QStringLiteral("1")}};

    OVNMediaDetails pane;
    pane.resize(320, 360);
    pane.show();
    QApplication::processEvents();

    bool ok = true;
    auto state = [&](const QString &name, const std::function<void()> &setUp) {
        setUp();
        QApplication::processEvents();
        ok = writePng(pane, folder, name) && ok;
    };

    auto select = [&](QList<int> rows) {
        catalog.selection = rows;
        pane.setDataSource(rows.isEmpty() ? nullptr : &catalog);
        pane.reloadData();
    };
    state(QStringLiteral("details-no-selection"), [&] { select({}); });
    state(QStringLiteral("details-one-media-info"), [&] {
        select({0});
        pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    });
    state(QStringLiteral("details-one-purchased"), [&] { pane.tabPressed(OVNMediaDetails::PurchasedTab); });
    state(QStringLiteral("details-one-sold"), [&] { pane.tabPressed(OVNMediaDetails::SoldTab); });
    state(QStringLiteral("details-one-file-info"), [&] { pane.tabPressed(OVNMediaDetails::FileInfoTab); });
    state(QStringLiteral("details-one-meta-data"), [&] { pane.tabPressed(OVNMediaDetails::MetaDataTab); });
    // The keyword action menu as its pull-down button shows it: without its title item.
    pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    QApplication::processEvents();
    ok = writePng(pane, folder, QStringLiteral("details-keyword-menu"),
                  [&](QPainter &painter) {
                      auto *button = pane.findChild<QAbstractButton *>(QStringLiteral("vcShortDescriptionAction_"));
                      std::unique_ptr<QMenu> menu = button ? pane.menuForContextButton(button) : nullptr;
                      if (!menu)
                          return;
                      menu->actions().first()->setVisible(false);
                      menu->adjustSize();
                      const QPoint below =
                          button->mapTo(&pane, QPoint(button->width() - menu->width(), button->height()));
                      menu->render(&painter, below, QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
                  })
         && ok;
    state(QStringLiteral("details-two-entries"), [&] { select({0, 1}); });
    state(QStringLiteral("details-read-only"), [&] {
        catalog.writable = false;
        select({1});
        pane.tabPressed(OVNMediaDetails::MediaInfoTab);
    });
    state(QStringLiteral("details-short"), [&] {
        catalog.writable = true;
        pane.resize(320, 18);
    });

    DemoBuffer buffer;
    buffer.values[QStringLiteral("shortdesc")] = QStringLiteral("summer coast");
    buffer.values[QStringLiteral("modrelavailable")] = QStringLiteral("1");
    OVNMediaDetails autoFill;
    autoFill.resize(320, 300);
    autoFill.setAutoFillMode(true);
    autoFill.setDataSource(&buffer);
    autoFill.reloadData();
    autoFill.show();
    QApplication::processEvents();
    ok = writePng(autoFill, folder, QStringLiteral("details-auto-fill")) && ok;
    autoFill.tabPressed(OVNMediaDetails::SoldTab);
    QApplication::processEvents();
    ok = writePng(autoFill, folder, QStringLiteral("details-auto-fill-sold")) && ok;
    return ok ? 0 : 1;
}
