#pragma once

#include "browser/OVNThumbnailLayoutList.h"

#include <QAbstractListModel>
#include <QImage>
#include <QList>
#include <QVariantMap>

#include <memory>

class MediaRecord;
class OVNThumbnail;
class QColor;
class QFont;
class UserDefaults;

// The layout editor's list of layouts without its widgets: it loads the stored list through the
// shared reading, takes an edit of one key of the selected layout, and stores the whole list at
// once. Rows show the layouts' names.
class OVNThumbnailLayoutListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    enum class EditResult {
        NoSingleSelection, // nothing changed, nothing stored
        Saved,
        NotSaved, // the layout changed in memory; lastError() says why it is not stored
    };

    explicit OVNThumbnailLayoutListModel(UserDefaults &defaults, QObject *parent = nullptr);
    ~OVNThumbnailLayoutListModel() override;

    // Reads the stored list (the editor does so once, when its window is made).
    void load();
    const OVNLayoutListReading &reading() const { return m_reading; }
    // The repair message for the user, naming where the stored list will be kept; "" when the
    // stored list was used as it was.
    QString problemMessage() const;
    // Where the stored list is kept before the first save replaces a repaired one ("" when there
    // is nothing to keep or no place for it).
    QString keptCopyPath() const { return m_keptCopyPath; }
    bool storedListKept() const { return m_storedListKept; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    QVariantList layouts() const { return m_layouts; }
    QVariantMap layout(int row) const;

    // The rows the list has selected; an edit acts only while exactly one is.
    void setSelectedRows(const QList<int> &rows);
    // The one selected row, -1 when none or several are selected.
    int selectedRow() const;

    // Writes one key of the selected layout and stores the whole list.
    EditResult setValue(const QString &key, const QVariant &value);
    // A colour in any model is stored by its RGB components.
    EditResult setColor(const QString &key, const QColor &color);
    EditResult setFont(const QString &key, const QFont &font);
    QString lastError() const { return m_lastError; }

    // The sample cell of a layout, 130 by 130, drawn by a renderer of the model's own.
    QImage preview(const QVariantMap &layout, const QImage &picture) const;
    static MediaRecord sampleRecord();

private:
    EditResult save();

    UserDefaults &m_defaults;
    OVNLayoutListReading m_reading;
    QVariantList m_layouts;
    QList<int> m_selectedRows;
    QString m_keptCopyPath;
    bool m_storedListKept = false;
    QString m_lastError;
    mutable std::unique_ptr<OVNThumbnail> m_renderer;
};
