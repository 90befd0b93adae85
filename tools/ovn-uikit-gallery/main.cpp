// ovn-uikit-gallery OUTDIR: renders each interface-kit widget in its states (normal, pressed,
// disabled, selected, with grips, labels, the transparent window with a rating) to one PNG each,
// offscreen and at twice the point size, so that a person can look at them.

#include "uikit/CustomView.h"
#include "uikit/DrawingKit.h"
#include "uikit/NTGlyphBlitter.h"
#include "uikit/NTPopUpHeaderView.h"
#include "uikit/OVNBGView.h"
#include "uikit/OVNBezierPath.h"
#include "uikit/OVNButtonBGView.h"
#include "uikit/OVNButtonFooter.h"
#include "uikit/OVNControllerBGView.h"
#include "uikit/OVNFlatButton.h"
#include "uikit/OVNIconSetHelper.h"
#include "uikit/OVNImageAndTextCell.h"
#include "uikit/OVNMembraneButton.h"
#include "uikit/OVNPopUpButtonFooter.h"
#include "uikit/OVNSplitView.h"
#include "uikit/OVNTransparentView.h"
#include "uikit/OVNTransparentWindow.h"
#include "uikit/PolishedWindow.h"
#include "tools/common/ToolStart.h"
#include "tools/common/ToolUsage.h"

#include <QApplication>
#include <QDir>
#include <QLayout>
#include <QPainter>
#include <QStandardItemModel>
#include <QTextStream>
#include <QToolBar>
#include <QTreeView>

#include <functional>

namespace {

constexpr qreal galleryScale = 2.0;
const QColor sheetColor = QColor(236, 236, 236);

class Gallery
{
public:
    explicit Gallery(const QString &folder) : m_folder(folder) {}

    // Renders `paint` onto a sheet of `size` points and writes it as NAME.png.
    bool sheet(const QString &name, const QSize &size, const std::function<void(QPainter &)> &paint)
    {
        QImage image(size * galleryScale, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(galleryScale);
        image.fill(sheetColor);
        {
            QPainter painter(&image);
            paint(painter);
        }
        const QString path = QDir(m_folder).filePath(name + QStringLiteral(".png"));
        if (!image.save(path)) {
            QTextStream(stderr) << "cannot write " << path << "\n";
            return false;
        }
        QTextStream(stdout) << path << "\n";
        return true;
    }

    QString folder() const { return m_folder; }

private:
    QString m_folder;
};

// Draws a widget (and its children) at `at`, with a small caption above it.
void place(QPainter &painter, QWidget &widget, const QPoint &at, const QString &caption = QString())
{
    widget.ensurePolished();
    if (QLayout *layout = widget.layout())
        layout->activate();
    widget.render(&painter, at, QRegion(), QWidget::DrawChildren);
    if (!caption.isEmpty()) {
        painter.save();
        painter.setFont(DrawingKit::pixelFont(9));
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QPointF(at.x(), at.y() - 4), caption);
        painter.restore();
    }
}

// For widgets that clear their own area to transparent: rendered on a layer of their own, then
// laid over the sheet, as a window system would composite them.
void placeTranslucent(QPainter &painter, QWidget &widget, const QPoint &at, qreal opacity = 1.0,
                      const QString &caption = QString())
{
    widget.ensurePolished();
    if (QLayout *layout = widget.layout())
        layout->activate();
    QImage layer(widget.size() * galleryScale, QImage::Format_ARGB32_Premultiplied);
    layer.setDevicePixelRatio(galleryScale);
    layer.fill(Qt::transparent);
    widget.render(&layer, QPoint(), QRegion(), QWidget::DrawChildren);
    painter.save();
    painter.setOpacity(opacity);
    painter.drawImage(at, layer);
    painter.restore();
    if (!caption.isEmpty()) {
        painter.save();
        painter.setFont(DrawingKit::pixelFont(9));
        painter.setPen(QColor(90, 90, 90));
        painter.drawText(QPointF(at.x(), at.y() - 4), caption);
        painter.restore();
    }
}

void caption(QPainter &painter, const QPointF &at, const QString &text)
{
    painter.save();
    painter.setFont(DrawingKit::pixelFont(9));
    painter.setPen(QColor(90, 90, 90));
    painter.drawText(at, text);
    painter.restore();
}

QImage samplePhoto()
{
    QImage image(300, 200, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 130);
    sky.setColorAt(0, QColor(70, 130, 200));
    sky.setColorAt(1, QColor(190, 220, 245));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 220, 110));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(220, 50), 22, 22);
    QPainterPath hills;
    hills.moveTo(0, 200);
    hills.lineTo(0, 140);
    hills.cubicTo(60, 100, 120, 160, 180, 120);
    hills.cubicTo(230, 90, 270, 130, 300, 115);
    hills.lineTo(300, 200);
    painter.setBrush(QColor(60, 130, 70));
    painter.drawPath(hills);
    return image;
}

bool renderHeaders(Gallery &gallery)
{
    struct Row {
        QString title;
        int tag, left, right;
    };
    const QList<Row> rows = {{QStringLiteral("Databases"), 0, 0, 2},
                             {QStringLiteral("Preview"), 1, 2, 0},
                             {QStringLiteral("Asset Details"), 2, 2, 1},
                             {QString(), 3, 1, 2},
                             {QStringLiteral("A title far too long to fit the header's width"), 4, 2, 2}};
    return gallery.sheet(QStringLiteral("header"), QSize(300, 30 + 34 * rows.size()), [&](QPainter &painter) {
        int y = 24;
        for (const Row &row : rows) {
            NTPopUpHeaderView header;
            header.setGeometry(0, 0, row.tag == 4 ? 160 : 260, int(NTPopUpHeaderView::defaultHeight()));
            header.setTitle(row.title);
            header.setTag(row.tag);
            header.setLeftGrip(row.left);
            header.setRightGrip(row.right);
            place(painter, header, QPoint(20, y),
                  QStringLiteral("tag %1, grips %2/%3").arg(row.tag).arg(row.left).arg(row.right));
            y += 34;
        }
    });
}

bool renderGlyphBlitter(Gallery &gallery)
{
    return gallery.sheet(QStringLiteral("glyph-blitter"), QSize(320, 300), [](QPainter &painter) {
        NTTextAttributes attributes;
        attributes.font = DrawingKit::pixelFont(12);
        NTTextAttributes centred = attributes;
        centred.alignment = Qt::AlignHCenter;
        centred.truncation = Qt::ElideMiddle;

        auto frameOf = [&painter](const QRectF &rect) {
            painter.save();
            painter.setPen(QPen(QColor(200, 120, 120), 0));
            painter.drawRect(rect);
            painter.restore();
        };
        struct Sample {
            QString text;
            QString label;
            NTTextAttributes attributes;
            std::optional<QColor> back;
            std::optional<QColor> labelColor;
            bool oval, shadow;
            int lines;
        };
        const QColor green = QColor::fromRgbF(0.55f, 0.82f, 0.45f);
        const QList<Sample> samples = {
            {QStringLiteral("Plain label"), QStringLiteral("plain"), attributes, std::nullopt, std::nullopt, false,
             false, 1},
            {QStringLiteral("Oval label"), QStringLiteral("oval background"), attributes, green, std::nullopt, true,
             false, 1},
            {QStringLiteral("Label colour tint"), QStringLiteral("label colour, no back colour (40 %)"), attributes,
             std::nullopt, QColor(Qt::red), false, false, 1},
            {QStringLiteral("Label colour outline"), QStringLiteral("label colour over an oval back colour"),
             attributes, QColor(255, 240, 150), QColor(Qt::red), true, false, 1},
            {QStringLiteral("Shadowed text"), QStringLiteral("shadow"), attributes, std::nullopt, std::nullopt, false,
             true, 1},
            {QStringLiteral("Middle-truncated title that is much too long"),
             QStringLiteral("centred, cut in the middle"), centred, std::nullopt, std::nullopt, false, false, 1},
            {QStringLiteral("Two lines of wrapped text that do not fit on one line"),
             QStringLiteral("two lines, each with its own background"), attributes, QColor(210, 225, 250), std::nullopt,
             false, false, 2},
        };
        qreal y = 22;
        for (const Sample &sample : samples) {
            const QSizeF size(200, sample.lines == 2 ? 36 : 18);
            auto blitter = NTGlyphBlitter::blitterWithString(sample.text, size, sample.lines, true, sample.attributes,
                                                             sample.back, sample.oval, true, sample.shadow);
            const QRectF rect(QPointF(20, y), size);
            caption(painter, QPointF(20, y - 3), sample.label);
            frameOf(rect);
            blitter->drawRect(painter, rect, std::nullopt, std::nullopt, sample.labelColor);
            y += size.height() + 20;
        }
    });
}

bool renderButtons(Gallery &gallery, const OVNIconSetHelper &icons)
{
    bool ok = true;
    const QImage footerImage = icons.toolbarIconFor(QStringLiteral("FolderMini"));
    ok &= gallery.sheet(QStringLiteral("footer-buttons"), QSize(360, 120), [&](QPainter &painter) {
        int x = 20;
        for (int state = 0; state < 3; ++state) {
            OVNButtonFooter button;
            button.setGeometry(0, 0, 90, 22);
            if (state == 2)
                button.setText(QStringLiteral("Add"));
            else
                button.setImage(footerImage);
            button.setDown(state == 1);
            button.setEnabled(state != 2);
            place(painter, button, QPoint(x, 30),
                  state == 0   ? QStringLiteral("image")
                  : state == 1 ? QStringLiteral("image, pressed")
                               : QStringLiteral("title, disabled"));
            x += 110;
        }
        x = 20;
        for (int state = 0; state < 2; ++state) {
            OVNPopUpButtonFooter popUp;
            popUp.setGeometry(0, 0, 34, 22);
            popUp.setImage(icons.toolbarIconFor(QStringLiteral("ViewOrder")));
            popUp.setDown(state == 1);
            place(painter, popUp, QPoint(x, 80),
                  state == 0 ? QStringLiteral("pop-up footer") : QStringLiteral("pressed"));
            x += 110;
        }
    });
    ok &= gallery.sheet(QStringLiteral("flat-buttons"), QSize(360, 70), [&](QPainter &painter) {
        int x = 20;
        for (int state = 0; state < 3; ++state) {
            OVNFlatButton button;
            button.setGeometry(0, 0, 40, 21);
            button.setDown(state == 1);
            button.setEnabled(state != 2);
            place(painter, button, QPoint(x, 30),
                  state == 0   ? QStringLiteral("normal")
                  : state == 1 ? QStringLiteral("pressed")
                               : QStringLiteral("disabled (70 %)"));
            x += 110;
        }
    });
    ok &= gallery.sheet(QStringLiteral("membrane-buttons"), QSize(360, 70), [&](QPainter &painter) {
        int x = 20;
        for (int state = 0; state < 3; ++state) {
            OVNMembraneButton button;
            button.setGeometry(0, 0, 90, 20);
            button.setText(QStringLiteral("Search"));
            button.setDown(state == 1);
            button.setEnabled(state != 2);
            place(painter, button, QPoint(x, 30),
                  state == 0   ? QStringLiteral("normal")
                  : state == 1 ? QStringLiteral("pressed")
                               : QStringLiteral("disabled"));
            x += 110;
        }
    });
    return ok;
}

bool renderBackgrounds(Gallery &gallery)
{
    bool ok = true;
    ok &= gallery.sheet(QStringLiteral("backgrounds"), QSize(420, 330), [](QPainter &painter) {
        OVNButtonBGView buttonRow;
        buttonRow.setGeometry(0, 0, 180, 30);
        place(painter, buttonRow, QPoint(20, 30), QStringLiteral("button-row background"));

        OVNBGView plain;
        plain.setGeometry(0, 0, 180, 30);
        plain.setType(OVNBGView::Plain);
        plain.setBackgroundColor(QColor(225, 232, 240));
        place(painter, plain, QPoint(220, 30), QStringLiteral("background view, type 0"));

        OVNBGView panel;
        panel.setGeometry(0, 0, 380, 90);
        panel.setType(OVNBGView::GradientPanel);
        panel.setBackgroundColor(QColor(250, 250, 250));
        panel.setBackgroundColor2(QColor(205, 212, 220));
        panel.setMainText(QStringLiteral("Canon EOS 5D"));
        panel.setOptionText(QStringLiteral("Ready"));
        panel.setInfoText(QStringLiteral("128 pictures on the memory card; the last import was today at "
                                         "10:12. The text wraps inside the area under the title line."));
        place(painter, panel, QPoint(20, 90), QStringLiteral("background view, type 1 (mirrored gradient, texts)"));

        OVNBGView strip;
        strip.setGeometry(0, 0, 380, 24);
        strip.setType(OVNBGView::TiledStrip);
        place(painter, strip, QPoint(20, 210), QStringLiteral("background view, type 2 (tiled topview_bg)"));

        // The controller overlay sits on something dark to show its translucency.
        painter.fillRect(QRect(20, 255, 180, 60), QColor(120, 140, 160));
        OVNControllerBGView controller;
        controller.setGeometry(0, 0, 180, 60);
        placeTranslucent(painter, controller, QPoint(20, 255), 1.0, QStringLiteral("controller overlay"));

        OVNSplitView split(Qt::Horizontal);
        split.setGeometry(0, 0, 180, 60);
        auto *left = new CustomView;
        auto *right = new CustomView;
        split.addWidget(left);
        split.addWidget(right);
        split.setSizes({90, 89});
        place(painter, split, QPoint(220, 255), QStringLiteral("split view with custom views"));
    });
    ok &= gallery.sheet(QStringLiteral("rounded-paths"), QSize(420, 110), [](QPainter &painter) {
        painter.setRenderHint(QPainter::Antialiasing);
        const QList<std::pair<QRectF, float>> shapes = {
            {QRectF(20, 30, 80, 50), 10.0f}, {QRectF(120, 40, 80, 30), 50.0f}, {QRectF(220, 30, 50, 50), 40.0f}};
        for (const auto &[rect, radius] : shapes) {
            painter.fillPath(OVNBezierPath::bezierPathWithRoundedRect(rect, radius), QColor(74, 168, 234));
            painter.strokePath(OVNBezierPath::bezierPathWithRoundedRect(rect, radius), QPen(QColor(27, 74, 120), 1));
        }
        const QRectF left(290, 30, 110, 50);
        painter.fillPath(OVNBezierPath::bezierPathWithLeftRoundedRect(left, 12), QColor(74, 168, 234));
        painter.strokePath(OVNBezierPath::bezierPathWithLeftRoundedRect(left, 12), QPen(QColor(27, 74, 120), 1));
        caption(painter, QPointF(20, 22), QStringLiteral("radius 10 / capsule / circle / left corners only"));
    });
    return ok;
}

bool renderWindow(Gallery &gallery, const OVNIconSetHelper &icons)
{
    return gallery.sheet(QStringLiteral("polished-window"), QSize(640, 380), [&](QPainter &painter) {
        PolishedWindow window;
        window.setMinSize(QSize(100, 100));
        window.setGeometry(0, 0, 600, 340);
        auto *toolbar = new QToolBar;
        toolbar->setIconSize(QSize(32, 32));
        toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        for (const char *name : {"Capture", "Adjust", "AutoFill", "Export", "Mail", "Burn", "Delete"})
            toolbar->addAction(QIcon(QPixmap::fromImage(icons.toolbarIconFor(QLatin1String(name)))),
                               QLatin1String(name));
        window.setToolbar(toolbar);

        auto *split = new OVNSplitView(Qt::Horizontal);
        auto *databases = new QWidget;
        auto *databasesHeader = new NTPopUpHeaderView(databases);
        databasesHeader->setTitle(QStringLiteral("Databases"));
        databasesHeader->setRightGrip(2);
        databasesHeader->setGeometry(0, 0, 180, 17);
        auto *tree = new QTreeView(databases);
        tree->setGeometry(0, 17, 180, 240);
        tree->setHeaderHidden(true);
        tree->setFrameShape(QFrame::NoFrame);
        QPalette treePalette = tree->palette();
        treePalette.setColor(QPalette::Base, icons.colorFor(QStringLiteral("DBViewBackgroundColor")));
        tree->setPalette(treePalette);
        auto *model = new QStandardItemModel(tree);
        auto *cell = new OVNImageAndTextCell(tree);
        cell->setControlSize(0);
        tree->setItemDelegate(cell);
        auto *root = new QStandardItem(QStringLiteral("Database"));
        root->setData(icons.outlineIconForType(QStringLiteral("EXPANDABLE"), 16), Qt::DecorationRole);
        model->appendRow(root);
        const QList<std::pair<QString, QString>> kinds = {{QStringLiteral("F"), QStringLiteral("Projects")},
                                                          {QStringLiteral("C"), QStringLiteral("Harbour 2026")},
                                                          {QStringLiteral("M"), QStringLiteral("Scans inbox")},
                                                          {QStringLiteral("I"), QStringLiteral("Rated 4 and up")}};
        for (const auto &[kind, title] : kinds) {
            auto *item = new QStandardItem(title);
            item->setData(icons.outlineIconForType(kind, 16), Qt::DecorationRole);
            root->appendRow(item);
        }
        auto *set = new QStandardItem(QStringLiteral("Portfolio"));
        set->setData(icons.outlineIconForType(QStringLiteral("S"), 16), Qt::DecorationRole);
        model->appendRow(set);
        tree->setModel(model);
        tree->expandAll();
        tree->setCurrentIndex(model->index(1, 0, model->index(0, 0)));

        auto *preview = new QWidget;
        preview->setAutoFillBackground(true);
        QPalette previewPalette = preview->palette();
        previewPalette.setColor(QPalette::Window, icons.colorFor(QStringLiteral("PreviewBackgroundColor")));
        preview->setPalette(previewPalette);
        auto *previewHeader = new NTPopUpHeaderView(preview);
        previewHeader->setTitle(QStringLiteral("Preview"));
        previewHeader->setLeftGrip(2);
        previewHeader->setGeometry(0, 0, 419, 17);
        split->addWidget(databases);
        split->addWidget(preview);
        split->setSizes({180, 419});
        window.setCentralWidget(split);
        window.ensurePolished();
        window.layout()->activate();
        window.render(&painter, QPoint(20, 20));
    });
}

bool renderIconSet(Gallery &gallery, const OVNIconSetHelper &icons)
{
    const QStringList names = {QStringLiteral("Adjust"),
                               QStringLiteral("AutoFill"),
                               QStringLiteral("Export"),
                               QStringLiteral("Mail"),
                               QStringLiteral("Burn"),
                               QStringLiteral("Capture"),
                               QStringLiteral("Delete"),
                               QStringLiteral("DB"),
                               QStringLiteral("Folder"),
                               QStringLiteral("Collection"),
                               QStringLiteral("SurveillanceFolder"),
                               QStringLiteral("Category"),
                               QStringLiteral("SmartFolder"),
                               QStringLiteral("DBMini"),
                               QStringLiteral("FolderMini"),
                               QStringLiteral("CollectionMini"),
                               QStringLiteral("SurveillanceFolderMini"),
                               QStringLiteral("CategoryMini"),
                               QStringLiteral("SmartFolderMini"),
                               QStringLiteral("ViewIconOSV"),
                               QStringLiteral("ViewIconIPhoto"),
                               QStringLiteral("ViewIconIPhoto2"),
                               QStringLiteral("ViewIconList"),
                               QStringLiteral("ViewOrder"),
                               QStringLiteral("CtrlPreviewCollapseMini"),
                               QStringLiteral("CtrlPreviewExpandMini")};
    const int columns = 7;
    const int rows = int((names.size() + columns - 1) / columns);
    bool allFound = true;
    const bool written =
        gallery.sheet(QStringLiteral("icon-set"), QSize(columns * 90 + 20, rows * 70 + 60), [&](QPainter &painter) {
            caption(painter, QPointF(10, 16), QStringLiteral("Icon set \"%1\"").arg(icons.defaultIconSet()));
            int i = 0;
            for (const QString &name : names) {
                const QImage icon = icons.toolbarIconFor(name);
                const QPointF cellOrigin(10 + (i % columns) * 90, 30 + (i / columns) * 70);
                if (icon.isNull()) {
                    allFound = false;
                    caption(painter, cellOrigin + QPointF(0, 20), QStringLiteral("missing"));
                } else {
                    const QSizeF size = icon.deviceIndependentSize();
                    painter.drawImage(QRectF(cellOrigin + QPointF((90 - size.width()) / 2, 32 - size.height()), size),
                                      icon);
                }
                painter.save();
                painter.setFont(DrawingKit::pixelFont(8));
                painter.setPen(QColor(60, 60, 60));
                painter.drawText(QRectF(cellOrigin + QPointF(0, 36), QSizeF(90, 24)),
                                 Qt::AlignHCenter | Qt::TextWordWrap, name);
                painter.restore();
                ++i;
            }
            // The set's colours along the bottom.
            const QStringList colorNames = {
                QStringLiteral("DBViewBackgroundColor"), QStringLiteral("PreviewBackgroundColor"),
                QStringLiteral("DetailsBackgroundColor"), QStringLiteral("LightTableBackgroundColor")};
            int x = 10;
            for (const QString &colorName : colorNames) {
                painter.fillRect(QRectF(x, rows * 70 + 36, 18, 14), icons.colorFor(colorName));
                caption(painter, QPointF(x + 22, rows * 70 + 47), colorName);
                x += 160;
            }
        });
    if (!allFound)
        QTextStream(stderr) << "some icons of the set are missing\n";
    return written && allFound;
}

bool renderCells(Gallery &gallery, const OVNIconSetHelper &icons)
{
    return gallery.sheet(QStringLiteral("image-and-text-cell"), QSize(440, 150), [&](QPainter &painter) {
        const QList<std::tuple<QString, QString, bool>> rows = {
            {QStringLiteral("F"), QStringLiteral("Projects"), false},
            {QStringLiteral("C"), QStringLiteral("Harbour 2026 (selected)"), true},
            {QStringLiteral("S"), QStringLiteral("Portfolio"), false}};
        for (unsigned controlSize : {0u, 24u}) {
            OVNImageAndTextCell cell;
            cell.setControlSize(controlSize);
            const qreal rowHeight = controlSize == 24 ? 28 : 20;
            const qreal x = controlSize == 24 ? 230 : 20;
            caption(painter, QPointF(x, 20),
                    controlSize == 24 ? QStringLiteral("large icons (24)") : QStringLiteral("small icons (16)"));
            qreal y = 28;
            for (const auto &[kind, title, selected] : rows) {
                const QRectF frame(x, y, 190, rowHeight);
                if (selected)
                    painter.fillRect(frame, QColor(56, 117, 215));
                cell.setImage(icons.outlineIconForType(kind, controlSize == 24 ? 24.0f : 16.0f));
                cell.drawInteriorWithFrame(painter, frame, title, selected);
                y += rowHeight;
            }
        }
    });
}

bool renderTransparentWindow(Gallery &gallery)
{
    return gallery.sheet(QStringLiteral("transparent-window"), QSize(380, 290), [](QPainter &painter) {
        // A desktop-like backdrop, so that the window's transparency shows.
        QLinearGradient desk(0, 0, 380, 290);
        desk.setColorAt(0, QColor(200, 210, 225));
        desk.setColorAt(1, QColor(120, 135, 160));
        painter.fillRect(QRect(0, 0, 380, 290), desk);
        OVNTransparentWindow window(QRect(0, 0, 340, 250));
        auto *view = new OVNTransparentView;
        view->setImage(samplePhoto(), 3);
        window.setContentView(view);
        window.ensurePolished();
        window.layout()->activate();
        placeTranslucent(painter, window, QPoint(20, 20), OVNTransparentWindow::initialOpacity);
    });
}

} // namespace

constexpr const char *usageText = "usage: ovn-uikit-gallery OUTDIR\n"
                                  "  renders every interface-kit widget in its states as PNG files into OUTDIR\n";

int main(int argc, char **argv)
{
    if (const std::optional<int> end = ToolUsage::check(argc, argv, usageText, {}))
        return *end;
    ToolStart::offscreenUnlessNamed();
    QApplication app(argc, argv);
    DrawingKit::installApplicationStyle();
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << usageText;
        return 2;
    }
    const QString folder = arguments.at(1);
    if (!QDir().mkpath(folder)) {
        QTextStream(stderr) << "cannot make " << folder << "\n";
        return 1;
    }
    Gallery gallery(folder);
    const OVNIconSetHelper &icons = OVNIconSetHelper::sharedIconSet();
    bool ok = true;
    ok &= renderHeaders(gallery);
    ok &= renderGlyphBlitter(gallery);
    ok &= renderButtons(gallery, icons);
    ok &= renderBackgrounds(gallery);
    ok &= renderWindow(gallery, icons);
    ok &= renderIconSet(gallery, icons);
    ok &= renderCells(gallery, icons);
    ok &= renderTransparentWindow(gallery);
    return ok ? 0 : 1;
}
