#include "app/OVNPrintOptionsView.h"

#include "platform/Localized.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSlider>

#include <algorithm>

OVNPrintOptionsView::OVNPrintOptionsView(QWidget *parent) : QWidget(parent)
{
    // The print panel names the tab after the widget's title.
    setWindowTitle(localized("Contact Sheet"));
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(1, maximumImagesPerLine);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(1);
    m_slider->setPageStep(1);
    m_style = new QComboBox(this);
    m_style->addItems({localized("Images"), localized("Images with Titles"), localized("Images with Shadows"),
                       localized("Images with Shadows and Titles")});
    m_selectionOnly = new QCheckBox(localized("Print selected images only"), this);
    m_status = new QLabel(this);
    m_status->setTextFormat(Qt::PlainText);

    auto *form = new QFormLayout(this);
    form->addRow(localized("Images per Line:"), m_slider);
    form->addRow(localized("Style:"), m_style);
    form->addRow(QString(), m_selectionOnly);
    form->addRow(QString(), m_status);

    connect(m_slider, &QSlider::valueChanged, this, &OVNPrintOptionsView::optionsChanged);
    connect(m_style, &QComboBox::currentIndexChanged, this, &OVNPrintOptionsView::optionsChanged);
    connect(m_selectionOnly, &QCheckBox::toggled, this, &OVNPrintOptionsView::optionsChanged);
}

void OVNPrintOptionsView::setValues(int imagesPerLine, int style, bool selectionOnly, bool hasSelection)
{
    const QSignalBlocker sliderBlock(m_slider);
    const QSignalBlocker styleBlock(m_style);
    const QSignalBlocker selectionBlock(m_selectionOnly);
    m_slider->setValue(std::clamp(imagesPerLine, 1, maximumImagesPerLine));
    m_style->setCurrentIndex(std::clamp(style, 0, m_style->count() - 1));
    m_selectionOnly->setChecked(selectionOnly && hasSelection);
    m_selectionOnly->setEnabled(hasSelection);
}

int OVNPrintOptionsView::imagesPerLine() const { return m_slider->value(); }

int OVNPrintOptionsView::style() const { return m_style->currentIndex(); }

bool OVNPrintOptionsView::selectionOnly() const { return m_selectionOnly->isChecked(); }

void OVNPrintOptionsView::setStatus(const QString &text)
{
    m_status->setText(text);
    m_status->repaint();
}

QString OVNPrintOptionsView::status() const { return m_status->text(); }
