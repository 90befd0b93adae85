#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;

// The contact-sheet options the print panel shows on a tab of its own: images per line, the
// print style, selected media only, and the status line with the page count. Every change is
// announced; the catalog window pushes the values into its thumbnail view and rewrites the status.
class OVNPrintOptionsView : public QWidget
{
    Q_OBJECT

public:
    explicit OVNPrintOptionsView(QWidget *parent = nullptr);

    void setValues(int imagesPerLine, int style, bool selectionOnly, bool hasSelection);
    int imagesPerLine() const;
    int style() const;
    bool selectionOnly() const;
    void setStatus(const QString &text);
    QString status() const;

    static constexpr int maximumImagesPerLine = 20;

signals:
    void optionsChanged();

private:
    QSlider *m_slider = nullptr;
    QComboBox *m_style = nullptr;
    QCheckBox *m_selectionOnly = nullptr;
    QLabel *m_status = nullptr;
};
