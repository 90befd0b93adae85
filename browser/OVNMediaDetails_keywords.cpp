// The action menus beside the title and keyword fields: add the file's name and the names of the
// folders that hold it. In the catalog window they edit the selected entry at once; in auto-fill
// mode they only set the options that the owner applies to every entry later.

#include "browser/OVNMediaDetails.h"

#include "platform/Localized.h"
#include "uikit/OVNFlatButton.h"
#include "platform/CatalogNames.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

namespace {

const char *const folderTitles[] = {"No Folders", "1 Folder", "2 Folders", "3 Folders", "4 Folders"};
constexpr int maximumFolders = 4;

} // namespace

std::unique_ptr<QMenu> OVNMediaDetails::menuForContextButton(QAbstractButton *button)
{
    if (button && button == vcKeywordsAction_)
        return keywordMenu(true);
    if (button && button == vcShortDescriptionAction_)
        return keywordMenu(false);
    return nullptr;
}

std::unique_ptr<QMenu> OVNMediaDetails::keywordMenu(bool keywordsField)
{
    const bool addFilename = keywordsField ? vcKeywordsParseFilename_ : vcShortDescriptionParseFilename_;
    const int folders = keywordsField ? vcKeywordsParseFolders_ : vcShortDescriptionParseFolders_;
    auto menu = std::make_unique<QMenu>(QStringLiteral("Actions"));

    // The first item is the pull-down button's title, not a choice.
    menu->addAction(QStringLiteral("Action"));
    auto connectItem = [this, keywordsField](QAction *item, bool checked) {
        if (autofill_) {
            item->setCheckable(true);
            item->setChecked(checked);
        }
        connect(item, &QAction::triggered, this, [this, item, keywordsField] {
            if (keywordsField)
                keywordsAction(item);
            else
                shortDescriptionAction(item);
        });
    };
    connectItem(menu->addAction(localized("Add Filename")), addFilename);
    menu->addSeparator();

    QMenu *folderMenu = menu->addMenu(localized("Parse Folder Name"));
    for (int n = autofill_ ? 0 : 1; n <= maximumFolders; ++n)
        connectItem(folderMenu->addAction(localized(folderTitles[n])), folders == n);
    return menu;
}

void OVNMediaDetails::keywordsAction(QObject *sender) { fieldAction(sender, true); }

void OVNMediaDetails::shortDescriptionAction(QObject *sender) { fieldAction(sender, false); }

void OVNMediaDetails::fieldAction(QObject *sender, bool keywordsField)
{
    auto *item = qobject_cast<QAction *>(sender);
    if (!item)
        return;
    const QString title = item->text();
    const bool addFilename = title == localized("Add Filename");
    int folders = -1;
    for (int n = 0; n <= maximumFolders; ++n) {
        if (title == localized(folderTitles[n]))
            folders = n;
    }
    if (!addFilename && folders < 0)
        return;

    if (autofill_) {
        bool &flag = keywordsField ? vcKeywordsParseFilename_ : vcShortDescriptionParseFilename_;
        int &count = keywordsField ? vcKeywordsParseFolders_ : vcShortDescriptionParseFolders_;
        if (addFilename)
            flag = !flag;
        else
            count = folders;
        return;
    }

    if (selectionCount_ != 1)
        return;
    // An entry without a file gives nothing to add; its text stays as it is and nothing is stored.
    const QString path = stringForID(QStringLiteral("absolutepath"));
    if (path.isEmpty())
        return;
    QLineEdit *field = keywordsField ? vcKeywords_ : vcShortDescription_;
    // A half-typed edit of this or another field goes to its entry first.
    commitPendingEdit();
    const QString text = textWithFileWords(field->text(), path, addFilename, addFilename ? 0 : folders);
    field->setText(text);
    storeValue(Store::Annotation, text, keywordsField ? QStringLiteral("keywords") : QStringLiteral("shortdesc"),
               stringForID(CatalogNames::keyMid));
}

QString OVNMediaDetails::fileNameWithoutExtension(const QString &path)
{
    QString name = path;
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden file's name, not an extension.
    if (dot > 0)
        name.truncate(dot);
    return name;
}

QString OVNMediaDetails::textWithFileWords(const QString &text, const QString &path, bool addFilename, int folderCount)
{
    QString result = text.trimmed();
    if (addFilename) {
        const QString name = fileNameWithoutExtension(path);
        if (!name.isEmpty())
            result += QLatin1Char(' ') + name;
    }
    if (folderCount > 0) {
        // The components as a path splits into them: "/" first for an absolute path, then the
        // names between the slashes.
        QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (path.startsWith(QLatin1Char('/')))
            components.prepend(QStringLiteral("/"));
        // Nearest folder first; the root and empty names count as visited but add nothing.
        int n = folderCount;
        for (qsizetype i = components.size() - 2; i >= 0 && n > 0; --i, --n) {
            const QString &component = components.at(i);
            if (!component.isEmpty() && component != QLatin1String("/"))
                result += QLatin1Char(' ') + component;
        }
    }
    return result;
}
