#include "browser/OVNThumbnailLayoutListModel.h"

#include "browser/OVNThumbnail.h"
#include "formats/OVNHelper.h"
#include "platform/MediaRecord.h"
#include "platform/UserDefaults.h"
#include "platform/PlainText.h"

#include <QColor>
#include <QFileInfo>
#include <QFont>

namespace {

constexpr int previewSide = 130;
// A name is shown in one row of the list; a longer one is cut there, never in the store.
constexpr int longestShownName = 200;

} // namespace

OVNThumbnailLayoutListModel::OVNThumbnailLayoutListModel(UserDefaults &defaults, QObject *parent)
    : QAbstractListModel(parent),
      m_defaults(defaults)
{}

OVNThumbnailLayoutListModel::~OVNThumbnailLayoutListModel() = default;

void OVNThumbnailLayoutListModel::load()
{
    beginResetModel();
    m_reading = OVNThumbnailLayoutList::read(m_defaults);
    m_layouts = m_reading.layouts;
    m_selectedRows.clear();
    m_storedListKept = false;
    m_keptCopyPath = m_reading.repaired() && m_reading.stored.isValid()
                         ? OVNThumbnailLayoutList::keptCopyPath(m_defaults)
                         : QString();
    endResetModel();
}

QString OVNThumbnailLayoutListModel::problemMessage() const
{
    return OVNThumbnailLayoutList::message(m_reading, m_storedListKept ? QString() : m_keptCopyPath);
}

int OVNThumbnailLayoutListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_layouts.size());
}

QVariant OVNThumbnailLayoutListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_layouts.size())
        return QVariant();
    const QString name = m_layouts.at(index.row()).toMap().value(QStringLiteral("NAME")).toString();
    if (role == Qt::DisplayRole)
        return name.size() > longestShownName ? name.left(longestShownName) + QChar(0x2026) : name;
    if (role == Qt::ToolTipRole && name.size() <= longestShownName)
        return plainToolTip(name);
    return QVariant();
}

QVariantMap OVNThumbnailLayoutListModel::layout(int row) const
{
    return row >= 0 && row < m_layouts.size() ? m_layouts.at(row).toMap() : QVariantMap();
}

void OVNThumbnailLayoutListModel::setSelectedRows(const QList<int> &rows) { m_selectedRows = rows; }

int OVNThumbnailLayoutListModel::selectedRow() const
{
    if (m_selectedRows.size() != 1)
        return -1;
    const int row = m_selectedRows.first();
    return row >= 0 && row < m_layouts.size() ? row : -1;
}

OVNThumbnailLayoutListModel::EditResult OVNThumbnailLayoutListModel::setValue(const QString &key, const QVariant &value)
{
    const int row = selectedRow();
    if (row < 0)
        return EditResult::NoSingleSelection;
    QVariantMap layout = m_layouts.at(row).toMap();
    layout.insert(key, value);
    m_layouts[row] = layout;
    if (key == QLatin1String("NAME"))
        emit dataChanged(index(row), index(row));
    return save();
}

OVNThumbnailLayoutListModel::EditResult OVNThumbnailLayoutListModel::setColor(const QString &key, const QColor &color)
{
    return setValue(key, OVNHelper::encodeColor(color.toRgb()));
}

OVNThumbnailLayoutListModel::EditResult OVNThumbnailLayoutListModel::setFont(const QString &key, const QFont &font)
{
    return setValue(key, OVNHelper::encodeFont(font));
}

OVNThumbnailLayoutListModel::EditResult OVNThumbnailLayoutListModel::save()
{
    m_lastError.clear();
    // A repaired list replaces what the user stored: keep that first, or store nothing.
    if (m_reading.repaired() && m_reading.stored.isValid() && !m_storedListKept) {
        if (m_keptCopyPath.isEmpty() || QFileInfo::exists(m_keptCopyPath))
            m_keptCopyPath = OVNThumbnailLayoutList::keptCopyPath(m_defaults);
        if (!m_keptCopyPath.isEmpty()) {
            QString error;
            if (!OVNThumbnailLayoutList::writeKeptCopy(m_reading.stored, m_keptCopyPath, &error)) {
                m_lastError = error + QStringLiteral(" The change is not stored, so that the stored list is not lost.");
                return EditResult::NotSaved;
            }
        }
        m_storedListKept = true;
    }
    if (!m_defaults.setObject(m_layouts, OVNThumbnailLayoutList::preferenceKey)) {
        m_lastError = QStringLiteral("The thumbnail layouts could not be written to %1.").arg(m_defaults.filePath());
        return EditResult::NotSaved;
    }
    return EditResult::Saved;
}

MediaRecord OVNThumbnailLayoutListModel::sampleRecord()
{
    MediaRecord record;
    record.insert(QStringLiteral("displaytag"), QStringLiteral("FILE NAME"));
    record.insert(QStringLiteral("filetype"), QStringLiteral("Movie;23788"));
    record.insert(QStringLiteral("rating"), QStringLiteral("5"));
    record.insert(QStringLiteral("imageheight"), QStringLiteral("768"));
    record.insert(QStringLiteral("imagewidth"), QStringLiteral("1024"));
    record.insert(QStringLiteral("filesize"), QStringLiteral("584774"));
    record.insert(QStringLiteral("dts"), QStringLiteral("2006-24-05"));
    record.insert(QStringLiteral("filedts"), QStringLiteral("2006-20-05"));
    return record;
}

QImage OVNThumbnailLayoutListModel::preview(const QVariantMap &layout, const QImage &picture) const
{
    if (!m_renderer)
        m_renderer = std::make_unique<OVNThumbnail>();
    m_renderer->setWidth(previewSide);
    m_renderer->setHeight(previewSide);
    m_renderer->setLayout(layout);
    return m_renderer->createThumbnailForImage(picture, sampleRecord());
}
