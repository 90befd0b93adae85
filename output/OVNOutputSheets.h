#pragma once

#include "output/OVNOutputCheck.h"
#include "output/OVNPublishToWeb.h"
#include "platform/MediaRecord.h"

#include <QDialog>
#include <QList>

#include <atomic>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressDialog;

// The export sheet: a destination folder and the picture options, then the export on a worker
// with a progress sheet that can be cancelled (written files stay); failures in one alert at the
// end. It deletes itself when done.
class OVNExportImagesSheet : public QDialog
{
    Q_OBJECT
public:
    explicit OVNExportImagesSheet(QWidget *parent = nullptr);
    ~OVNExportImagesSheet() override;

    void setFiles(const QList<MediaRecord> &records);
    const QList<MediaRecord> &files() const { return m_originalfiles; }
    // Asked when the user confirms the sheet: only what it answers is exported.
    void setOutputCheck(OVNOutputCheck check) { m_check = std::move(check); }
    void beginSheetModalForWindow(QWidget *window);
    // Which controls the size pop-up leaves usable.
    void sizeChanged();

    QComboBox *sizeSelector() const { return m_sizeselector; }
    QLineEdit *sizeField() const { return m_sizefield; }
    QCheckBox *watermarkSwitch() const { return m_watermarkswitch; }
    QLineEdit *watermarkAuthor() const { return m_watermarkauthor; }
    QCheckBox *watermarkImageName() const { return m_watermarkimagename; }
    QLineEdit *folderField() const { return m_folder; }

private:
    void runExport();
    // The last export's folder, size and options, from and to the preferences.
    void loadSettings();
    void saveSettings() const;

    QComboBox *m_sizeselector;
    QLineEdit *m_sizefield;
    QCheckBox *m_watermarkswitch;
    QLineEdit *m_watermarkauthor;
    QCheckBox *m_watermarkimagename;
    QCheckBox *m_revealafterexport;
    QLineEdit *m_folder;
    QList<MediaRecord> m_originalfiles;
    OVNOutputCheck m_check;
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
};

// The e-mail sheet: size and caption options, then the attachments made on a worker behind a
// progress sheet and handed to the mail command (preference "MailCommand"); a file that could
// not be converted and a failed hand-over are named in alerts. It deletes itself when done.
class OVNSendImagesAsMailSheet : public QDialog
{
    Q_OBJECT
public:
    explicit OVNSendImagesAsMailSheet(QWidget *parent = nullptr);

    void setFiles(const QList<MediaRecord> &records) { m_originalfiles = records; }
    // Asked when the user confirms the sheet: only what it answers is sent.
    void setOutputCheck(OVNOutputCheck check) { m_check = std::move(check); }
    void beginSheetModalForWindow(QWidget *window);
    void sizeChanged();

    QComboBox *sizeSelector() const { return m_sizeselector; }
    QCheckBox *watermarkSwitch() const { return m_watermarkswitch; }
    QLineEdit *watermarkAuthor() const { return m_watermarkauthor; }
    QCheckBox *watermarkImageName() const { return m_watermarkimagename; }

private:
    void sendMail();

    QComboBox *m_sizeselector;
    QCheckBox *m_watermarkswitch;
    QLineEdit *m_watermarkauthor;
    QCheckBox *m_watermarkimagename;
    QList<MediaRecord> m_originalfiles;
    OVNOutputCheck m_check;
    std::shared_ptr<std::atomic_bool> m_cancelled = std::make_shared<std::atomic_bool>(false);
};

// The web-gallery sheet: titles, theme and folder, then the gallery built on a worker behind a
// progress sheet; the index page opens when it is written. It deletes itself when done.
class OVNPublishToWebSheet : public QDialog
{
    Q_OBJECT
public:
    explicit OVNPublishToWebSheet(QWidget *parent = nullptr);

    void setFiles(const QList<MediaRecord> &records) { m_files = records; }
    // Asked when the user confirms the sheet: only what it answers is published.
    void setOutputCheck(OVNOutputCheck check) { m_check = std::move(check); }
    void setPageTitle(const QString &title);
    QString pageTitle() const;
    const QList<MediaRecord> &files() const { return m_files; }
    // Lists the themes and opens the sheet; an alert instead when there are none.
    bool publish(QWidget *window);
    QLineEdit *folderField() const { return m_folder; }
    QComboBox *themeSelection() const { return m_themeselection; }
    // The chosen theme's "preview.jpg"; empty when the theme has none.
    QLabel *themePreview() const { return m_themepreview; }
    // Shows the preview of the theme chosen in the pop-up.
    void themeselectionChanged();

private:
    void createWebPages();
    static void announceGallery(const OVNPublishToWeb::Result &result, QWidget *window);

    QLineEdit *m_pagetitle;
    QLineEdit *m_pagesubtitle;
    QLineEdit *m_pagecopyright;
    QComboBox *m_themeselection;
    QLabel *m_themepreview;
    QLineEdit *m_folder;
    QList<MediaRecord> m_files;
    OVNOutputCheck m_check;
};
