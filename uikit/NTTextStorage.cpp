#include "uikit/NTTextStorage.h"

#include "uikit/NTTextStorageStore.h"

namespace {
// The pool's containers are as large as any label can need.
constexpr qreal unboundedContainerSide = 1000000.0;
} // namespace

NTTextStorage::NTTextStorage(const QString &string, const NTTextAttributes &attributes)
    : m_containerSize(unboundedContainerSide, unboundedContainerSide)
{
    replaceContents(string, attributes);
}

void NTTextStorage::replaceContents(const QString &string, const NTTextAttributes &attributes)
{
    m_string = string;
    m_attributes = attributes;
    m_layout.clearLayout();
    m_layout.setText(string);
    m_layout.setFont(attributes.font);
}

qreal NTTextStorage::lineFragmentPadding() const { return NTTextStorageStore::defaultLineFragmentPadding(); }
