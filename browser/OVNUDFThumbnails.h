#pragma once

#include <QHash>
#include <QImage>
#include <QPointer>
#include <QWidget>

class OVNThumbnailLayoutListModel;
class QCheckBox;
class QColorDialog;
class QComboBox;
class QFontDialog;
class QLabel;
class QLineEdit;
class QListView;
class QStackedWidget;
class QToolButton;
class UserDefaults;

// The thumbnail layout editor: the list of the four stored cell layouts at the left, a control for
// every key of the selected layout at the right, and a live 130 by 130 preview of a sample cell.
// Every change is written into the layout and the whole list is stored at once; there is no OK or
// Cancel. Each control's object name is the layout key it edits.
class OVNUDFThumbnails : public QWidget
{
    Q_OBJECT
public:
    explicit OVNUDFThumbnails(UserDefaults &defaults, QWidget *parent = nullptr);
    ~OVNUDFThumbnails() override;

    // The picture the preview shows in its cell.
    void setSamplePicture(const QImage &picture);

    void makeKeyAndOrderFront();
    void orderOut();

    OVNThumbnailLayoutListModel *model() const { return m_model; }
    QListView *layoutList() const { return m_list; }
    QImage previewImage() const { return m_previewImage; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWidget *makeColorButton(const QString &key, const QString &title);
    QCheckBox *makeCheckBox(const QString &key, const QString &title);
    QComboBox *makeFieldPopUp(const QString &key, bool listField);
    QWidget *makeBarGroup(const QString &title, const QString &prefix, const QString &enableKey);
    QWidget *makeListPage();

    void selectionChanged();
    void loadLayout(const QVariantMap &layout);
    void updatePreview();
    void applyEdit(const QString &key, const QVariant &value);
    void applyResult(int result);
    void chooseColor(const QString &key);
    void chooseFont(const QString &key);
    void showColor(const QString &key, const QColor &color);
    void showFont(const QString &key, const QVariantMap &layout);

    OVNThumbnailLayoutListModel *m_model = nullptr;
    QListView *m_list = nullptr;
    QWidget *m_controls = nullptr;
    QLabel *m_preview = nullptr;
    QComboBox *m_layoutSelection = nullptr;
    QStackedWidget *m_layoutTabs = nullptr;
    QLineEdit *m_manualSpacing = nullptr;
    QHash<QString, QToolButton *> m_colorButtons;
    QHash<QString, QCheckBox *> m_checkBoxes;
    QHash<QString, QComboBox *> m_fieldPopUps;
    QHash<QString, QLineEdit *> m_fontFields;
    QPointer<QColorDialog> m_colorDialog;
    QPointer<QFontDialog> m_fontDialog;
    QString m_dialogKey;
    QImage m_samplePicture;
    QImage m_previewImage;
    bool m_loading = false;
    bool m_problemsShown = false;
};
