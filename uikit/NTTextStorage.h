#pragma once

#include "uikit/NTTextAttributes.h"

#include <QSizeF>
#include <QString>
#include <QTextLayout>

// One text-layout stack: a string with its attributes, the layout that lays it out and the size of
// the container it is laid out in. Building one costs more than refilling an idle one, so they are
// pooled (NTTextStorageStore).
class NTTextStorage
{
public:
    NTTextStorage(const QString &string, const NTTextAttributes &attributes);

    NTTextStorage(const NTTextStorage &) = delete;
    NTTextStorage &operator=(const NTTextStorage &) = delete;

    // Replaces the text and its attributes (a refill); the container size stays.
    void replaceContents(const QString &string, const NTTextAttributes &attributes);

    const QString &string() const { return m_string; }
    int length() const { return int(m_string.size()); }
    const NTTextAttributes &attributes() const { return m_attributes; }

    QTextLayout &layoutManager() { return m_layout; }
    QSizeF containerSize() const { return m_containerSize; }
    void setContainerSize(const QSizeF &size) { m_containerSize = size; }
    qreal lineFragmentPadding() const;

private:
    QString m_string;
    NTTextAttributes m_attributes;
    QTextLayout m_layout;
    QSizeF m_containerSize;
};
