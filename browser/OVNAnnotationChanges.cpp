#include "browser/OVNAnnotationChanges.h"

#include "browser/OVNMediaDetails.h"

#include <QStringList>

#include <utility>

namespace {

QString trimmedBlanksAndTabs(const QString &text)
{
    qsizetype start = 0, end = text.size();
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (start < end && blank(text.at(start)))
        ++start;
    while (end > start && blank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

} // namespace

bool AnnotationChanges::isEmpty() const
{
    return info.isEmpty() && purchased.isEmpty() && sold.isEmpty() && !keywordsAddFilename && keywordsParseFolders == 0
           && !shortDescriptionAddFilename && shortDescriptionParseFolders == 0;
}

const QMap<QString, QString> &AnnotationChanges::changes(Table table) const
{
    return table == Table::Info ? info : table == Table::Purchased ? purchased : sold;
}

QMap<QString, QString> &AnnotationChanges::changes(Table table)
{
    return table == Table::Info ? info : table == Table::Purchased ? purchased : sold;
}

bool AnnotationChanges::isOfferedField(Table table, const QString &key)
{
    static const QStringList info{QStringLiteral("keywords"),        QStringLiteral("shortdesc"),
                                  QStringLiteral("fulldesc"),        QStringLiteral("modrelinfo"),
                                  QStringLiteral("proprelinfo"),     QStringLiteral("volumename"),
                                  QStringLiteral("modrelavailable"), QStringLiteral("proprelavailable")};
    static const QStringList purchased{QStringLiteral("licensetype"), QStringLiteral("licenserestrictions"),
                                       QStringLiteral("owner"), QStringLiteral("ordernumber"),
                                       QStringLiteral("photographer")};
    static const QStringList sold{QStringLiteral("licensetype"), QStringLiteral("licenserestrictions"),
                                  QStringLiteral("customer")};
    switch (table) {
    case Table::Info:
        return info.contains(key);
    case Table::Purchased:
        return purchased.contains(key);
    case Table::Sold:
        return sold.contains(key);
    }
    return false;
}

std::optional<QString> AnnotationChanges::firstFieldNotOffered() const
{
    for (const auto &[table, prefix] :
         {std::pair{Table::Info, QString()}, std::pair{Table::Purchased, QStringLiteral("purchased.")},
          std::pair{Table::Sold, QStringLiteral("sold.")}}) {
        for (const QString &key : changes(table).keys()) {
            if (!isOfferedField(table, key))
                return prefix + key;
        }
    }
    return std::nullopt;
}

bool AnnotationChanges::isFlagField(Table table, const QString &key)
{
    if (table == Table::Info)
        return key == QLatin1String("modrelavailable") || key == QLatin1String("proprelavailable");
    return key == QLatin1String("licensetype");
}

std::optional<QString> AnnotationChanges::valueToWrite(Mode mode, bool flagField,
                                                       const std::optional<QString> &existing, const QString &edited,
                                                       bool clearEmptyFields)
{
    if (edited.isEmpty()) {
        if (clearEmptyFields && existing && !existing->isEmpty())
            return QString(QLatin1String(""));
        return std::nullopt;
    }
    if (flagField || mode == Mode::Overwrite) {
        if (flagField && mode == Mode::Append)
            return std::nullopt;
        return edited;
    }
    // An empty stored value takes the new one as it is, without a leading blank.
    if (!existing || existing->isEmpty())
        return edited;
    if (mode == Mode::Merge && existing->contains(edited, Qt::CaseInsensitive))
        return std::nullopt;
    return *existing + QLatin1Char(' ') + edited;
}

std::optional<QString> AnnotationChanges::textWithFileWords(const QString &current, const QString &path,
                                                            bool addFilename, int folderCount)
{
    if (path.isEmpty() || (!addFilename && folderCount <= 0))
        return std::nullopt;
    const QString result = trimmedBlanksAndTabs(
        OVNMediaDetails::textWithFileWords(trimmedBlanksAndTabs(current), path, addFilename, folderCount));
    if (result == current)
        return std::nullopt;
    return result;
}

// ---- the data source ----

QString AnnotationBuffer::ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &key)
{
    return m_changes.info.value(key, QString(QLatin1String("")));
}

QString AnnotationBuffer::ovnMediaDetailsPurchasedForID(OVNMediaDetails *, const QString &column)
{
    return m_changes.purchased.value(column, QString(QLatin1String("")));
}

QString AnnotationBuffer::ovnMediaDetailsSoldForID(OVNMediaDetails *, const QString &column)
{
    return m_changes.sold.value(column, QString(QLatin1String("")));
}

void AnnotationBuffer::ovnMediaDetailsSetStringForID(OVNMediaDetails *, const QString &value, const QString &key,
                                                     const QString &)
{
    m_changes.info.insert(key, value.isNull() ? QString(QLatin1String("")) : value);
}

void AnnotationBuffer::ovnMediaDetailsSetStringForPurchasedID(OVNMediaDetails *, const QString &value,
                                                              const QString &column, const QString &)
{
    m_changes.purchased.insert(column, value.isNull() ? QString(QLatin1String("")) : value);
}

void AnnotationBuffer::ovnMediaDetailsSetStringForSoldID(OVNMediaDetails *, const QString &value, const QString &column,
                                                         const QString &)
{
    m_changes.sold.insert(column, value.isNull() ? QString(QLatin1String("")) : value);
}

AnnotationChanges AnnotationBuffer::changes(const OVNMediaDetails *pane) const
{
    AnnotationChanges changes = m_changes;
    if (pane) {
        changes.keywordsAddFilename = pane->keywordsAddFilename();
        changes.keywordsParseFolders = pane->keywordsParseFolders();
        changes.shortDescriptionAddFilename = pane->shortDescriptionAddFilename();
        changes.shortDescriptionParseFolders = pane->shortDescriptionParseFolders();
    }
    return changes;
}
