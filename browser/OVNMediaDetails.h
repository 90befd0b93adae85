#pragma once

#include "uikit/OVNContextButtonTarget.h"

#include <QColor>
#include <QFont>
#include <QHash>
#include <QRect>
#include <QStringList>
#include <QWidget>

#include <memory>
#include <optional>
#include <vector>

class OVNFlatButton;
class OVNMediaDetailsDataSource;
class OVNMediaDetailsTableModel;
class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QPainterPath;
class QScrollArea;
class QTableView;

// The tabbed pane below the thumbnail view in which the user reads and edits the annotations and
// rights of the selected entry and reads its file facts and metadata. Embedded in auto-fill mode in
// the auto-fill sheet and the smart-add pane, where what the user enters is buffered and applied to
// many entries later.
//
// The pane holds no values: every value comes from, and every edit goes straight to, its data
// source, which it does not own. The owner calls setDataSource(), then reloadData(), at every
// selection change.
//
// Geometry is the pane's own, origin top-left: a 20-point tab strip, then the content area where
// the current tab's view is shown. While several entries are selected the content area shows the
// count, their total size and three action areas (burn, auto-fill, e-mail) near the bottom edge.
class OVNMediaDetails
    : public QWidget
    , public OVNContextButtonTarget
{
    Q_OBJECT

public:
    enum Tab : int { MediaInfoTab = 0, PurchasedTab = 1, SoldTab = 2, FileInfoTab = 3, MetaDataTab = 4 };
    enum class ActionArea { BurnCD, AutoFill, SendAsEmail };
    enum class FocusRingType { Default, None, Exterior };
    // Where an edit of a field is stored: the media record, the purchased or the sold licence.
    enum class Store { Annotation, Purchased, Sold };

    static constexpr qreal tabStripHeight = 20.0;
    static constexpr int minimumContentHeight = 21;

    explicit OVNMediaDetails(QWidget *parent = nullptr);
    ~OVNMediaDetails() override;

    OVNMediaDetailsDataSource *dataSource() const { return datasource_; }
    // Stores the data source (or none) and asks which of the selection and value reads it answers.
    // An edit in progress is first handed to the previous data source. No redisplay.
    void setDataSource(OVNMediaDetailsDataSource *dataSource);
    // Re-reads the selection and shows the current tab (or the multi-selection summary).
    void reloadData();
    // Called by the data source when the edit just handed to it could not be stored (the catalog
    // out of reach): the text is kept for that entry and field until it is stored or discarded.
    // Whenever the field shows that entry again it shows the kept text, marked as not saved, and
    // hands it over again when the user ends editing there, changed or not. Escape in the field
    // discards it.
    void keepUnsavedEdit();
    // Called by the data source when it refused the edit just handed to it (and said why): the
    // field shows the stored value again, and nothing is kept; a text kept before stays kept (it
    // goes only when it is stored, by Escape or by discardUnsavedEdits()).
    void refuseHandedOverEdit();
    // The first shown text field that holds a kept text, or none.
    QLineEdit *unsavedField() const;
    // How many texts are kept unsaved, over all entries.
    int unsavedEditCount() const { return int(keptTexts_.size()); }
    // Hands an edit in progress to the data source now.
    void endEditing() { commitPendingEdit(); }
    // Forgets every kept text; the fields show the stored values again.
    void discardUnsavedEdits();

    bool autoFillMode() const { return autofill_; }
    void setAutoFillMode(bool autoFill);

    void setFocusRingType(FocusRingType type);
    QColor backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(const QColor &color) { backgroundColor_ = color; }

    int selectionCount() const { return selectionCount_; }
    double selectionSize() const { return selectionSize_; }
    int selectedTab() const { return selectedtab_; }
    bool tabsEnabled() const { return tabsenabled_; }
    QStringList tabs() const { return tabs_; }
    // The view shown in the content area, or none.
    QWidget *shownTabView() const;

    // Shows a tab: its form filled from the data source and enabled as the access check allows.
    void tabPressed(int index);
    // Shows the tab of the form control that edits `key` in `store` and answers that control (a
    // text field, check box or licence pop-up); none when no form has the key.
    QWidget *showField(Store store, const QString &key);
    void setButtonsEnabled(bool enabled);
    // Disables the tabs and removes the shown tab view.
    void deselectButtons();
    void unloadViews();

    // --- keyword actions ------------------------------------------------------------------------
    std::unique_ptr<QMenu> menuForContextButton(QAbstractButton *button) override;
    // Carry out a chosen menu item (recognised by its title) for "keywords" or "shortdesc".
    void keywordsAction(QObject *sender);
    void shortDescriptionAction(QObject *sender);
    // The options chosen in auto-fill mode, which the owner applies to every entry later.
    bool keywordsAddFilename() const { return vcKeywordsParseFilename_; }
    int keywordsParseFolders() const { return vcKeywordsParseFolders_; }
    bool shortDescriptionAddFilename() const { return vcShortDescriptionParseFilename_; }
    int shortDescriptionParseFolders() const { return vcShortDescriptionParseFolders_; }

    // `text` trimmed, then the file's name without extension (with `addFilename`) and the names of
    // up to `folderCount` enclosing folders, nearest first, each after a blank.
    static QString textWithFileWords(const QString &text, const QString &path, bool addFilename, int folderCount);
    static QString fileNameWithoutExtension(const QString &path);

    // --- File Info and Meta Data table ----------------------------------------------------------
    int numberOfRowsInTableView() const;
    // The text of a cell of the "id" or "value" column; "" for anything else.
    QString tableViewObjectValue(const QString &columnId, int row) const;
    QColor tableViewBackgroundColor(const QString &columnId, int row) const;
    static QString formatFileSize(double bytes);
    static QString formatFileSizeString(const QString &bytes);

    // Numbers read from the start of a text, as stored values are read: leading blanks skipped,
    // the longest numeric prefix taken, 0 when there is none.
    static double leadingDouble(const QString &text);
    static int leadingInt(const QString &text);

    // --- geometry -------------------------------------------------------------------------------
    // Where tab `index` is drawn; tabs overlap their right neighbour by 20 points.
    static QRectF tabRect(int index);
    // Where a click presses tab `index`.
    static QRect tabHitRect(int index);
    // The outline of one tab; a selected tab runs on along the strip's bottom to `rightEdge`.
    static QPainterPath tabPath(const QRectF &rect, bool selected, qreal rightEdge);
    static QRect actionAreaRect(ActionArea area, int paneHeight);
    static QRect headlineRect(int width) { return QRect(0, 40, width, 20); }
    static QRect sizeInfoRect(int width) { return QRect(0, 60, width, 20); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Field {
        QWidget *control = nullptr;
        QString key;
        Store store = Store::Annotation;
        Tab tab = MediaInfoTab;
    };

    // Building the views (OVNMediaDetails_layout.cpp).
    void loadLayout();
    QWidget *buildMediaInfoForm();
    QWidget *buildPurchasedForm();
    QWidget *buildSoldForm();
    QWidget *buildTechDataView();
    QScrollArea *makeFormScroll(QWidget *form);
    QLineEdit *addTextField(const QString &key, Store store, Tab tab, const char *outlet);
    QCheckBox *addCheckBox(const QString &key, const QString &title, const char *outlet);
    QComboBox *addLicensePopUp(Store store, Tab tab, const QStringList &titles, const char *outlet);
    void layoutForSize(const QSize &size);
    void scrollCurrentFormToTop();

    // Filling the forms.
    void fillField(const Field &field);
    QScrollArea *scrollForTab(int index) const;
    const Field *fieldFor(const QWidget *control) const;

    // Reads and writes through the data source (OVNMediaDetails_edits.cpp).
    QString stringForID(const QString &key) const;
    QString readValue(Store store, const QString &key) const;
    void storeValue(Store store, const QString &value, const QString &key, const QString &mediaId);
    void controlTextDidBeginEditing(QLineEdit *field);
    void controlTextDidChange(QLineEdit *field);
    void controlTextDidEndEditing(QLineEdit *field);
    void formSelectionChanged(QComboBox *popUp);
    void formSwitchChanged(QCheckBox *checkBox);
    // Hands a text edit in progress to the entry on which it began.
    void commitPendingEdit();
    bool offers(unsigned capability) const;

    // Drawing and clicks (OVNMediaDetails_drawing.cpp).
    void drawTabInRect(QPainter &painter, const QRectF &rect, const QString &title, bool selected, bool enabled);
    void drawActionAreas(QPainter &painter);

    // Keyword actions (OVNMediaDetails_keywords.cpp).
    std::unique_ptr<QMenu> keywordMenu(bool keywordsField);
    void fieldAction(QObject *sender, bool keywordsField);

    OVNMediaDetailsDataSource *datasource_ = nullptr;
    bool datasourceImplementsStringForID_ = false;
    bool datasourceImplementsSelectionCount_ = false;
    bool datasourceImplementsSelections_ = false;
    QString editmid_;
    QLineEdit *editingField_ = nullptr;    // the text field whose edit began and is not handed over yet
    QLineEdit *handedOverField_ = nullptr; // the text field whose edit is being handed over now
    bool handedOverKept_ = false;          // the data source kept the edit being handed over
    bool handedOverRefused_ = false;       // the data source refused it
    bool handingOverChoice_ = false;       // a check box or pop-up choice is being handed over
    // Hands a check box or pop-up choice over; one the data source did not store shows the
    // stored value again.
    void storeChoice(const Field &binding, const QString &value);
    // Texts the catalog did not take, by entry and field (keptKey()), until stored or discarded,
    // each with the stored value it was typed over.
    struct Kept {
        QString text;
        QString base;
    };
    QHash<QString, Kept> keptTexts_;
    QString editBase_; // the stored value the field showed when the edit in progress began
    // Before a kept text is handed over: when the stored value is no longer the one it was typed
    // over (someone saved another since), the user chooses. False when he takes the stored value:
    // the kept text is then given up and nothing is handed over.
    bool keepsKeptTextOver(const Field &binding, const QString &mediaId, const Kept &kept, const QString &text);
    static QString keptKey(const QString &mediaId, const Field &field);
    // The kept text of the field for the entry shown, when there is one.
    std::optional<QString> keptTextShown(const Field &field) const;
    void markUnsaved(QLineEdit *field, bool unsaved);
    int selectionCount_ = 0;
    double selectionSize_ = 0.0;
    bool autofill_ = false;
    int selectedtab_ = 0;
    bool tabsenabled_ = false;
    QStringList tabs_;
    QFont attrHeadline_;
    QFont attrSizeInfo_;
    QColor gback;
    QColor wback;
    QColor backgroundColor_;
    bool vcKeywordsParseFilename_ = false;
    int vcKeywordsParseFolders_ = 0;
    bool vcShortDescriptionParseFilename_ = false;
    int vcShortDescriptionParseFolders_ = 0;
    bool layoutLoaded_ = false;

    // Views; all owned by the pane through Qt's parent chain.
    QWidget *viewNavigation_ = nullptr;
    QWidget *viewContent_ = nullptr;
    QWidget *viewCategorization_ = nullptr;
    QLineEdit *vcKeywords_ = nullptr;
    QLineEdit *vcShortDescription_ = nullptr;
    QLineEdit *vcFullDescription_ = nullptr;
    OVNFlatButton *vcKeywordsAction_ = nullptr;
    OVNFlatButton *vcShortDescriptionAction_ = nullptr;
    QCheckBox *vcModelReleaseFlag_ = nullptr;
    QCheckBox *vcPropertyReleaseFlag_ = nullptr;
    QLineEdit *vcModelReleaseInfo_ = nullptr;
    QLineEdit *vcPropertyReleaseInfo_ = nullptr;
    QLineEdit *vcVolumeName_ = nullptr;
    QWidget *viewPurchased_ = nullptr;
    QComboBox *vpLicenseType_ = nullptr;
    QLineEdit *vpLicenseRestrictions_ = nullptr;
    QLineEdit *vpImageOwner_ = nullptr;
    QLineEdit *vpImageOrderNumber_ = nullptr;
    QLineEdit *vpImagePhotographer_ = nullptr;
    QWidget *viewSold_ = nullptr;
    QComboBox *vsLicenseType_ = nullptr;
    QLineEdit *vsLicenseRestrictions_ = nullptr;
    QLineEdit *vsCustomer_ = nullptr;
    QWidget *viewTechData_ = nullptr;
    QTableView *vtdTableView_ = nullptr;
    QScrollArea *vcScroll_ = nullptr;
    QScrollArea *vpScroll_ = nullptr;
    QScrollArea *vsScroll_ = nullptr;
    OVNMediaDetailsTableModel *tableModel_ = nullptr; // a child of the pane
    std::vector<Field> fields_;                       // the sixteen form controls with their keys
    QWidget *formBeingBuilt_ = nullptr;               // parent of the controls while a form is built
};
