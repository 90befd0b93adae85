// Smart add's panel lists files and folders, and its button takes a selection of both.
#include "tests/support/TestEnvironment.h"
#include "app/OVNSmartAddPanel.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

TEST(SmartAddPanelTest, TakesFilesAndFoldersTogether)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("Harbour"));
    for (const char *name : {"a.jpg", "b.jpg"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const struct {
        const char *name;
        QStringList selected; // rows selected by name
        QStringList chosen;
    } cases[] = {
        {"a file and a folder", {"a.jpg", "Harbour"}, {"Harbour", "a.jpg"}},
        {"a folder alone", {"Harbour"}, {"Harbour"}},
        {"files alone", {"a.jpg", "b.jpg"}, {"a.jpg", "b.jpg"}},
    };
    for (const auto &c : cases) {
        OVNSmartAddPanel panel;
        panel.setDirectory(dir.path());
        panel.show();
        auto *view = panel.findChild<QAbstractItemView *>("listView");
        ASSERT_TRUE(view) << c.name;
        auto *model = qobject_cast<QFileSystemModel *>(view->model());
        ASSERT_TRUE(model) << c.name;
        const QModelIndex root = model->index(dir.path());
        QTRY_COMPARE_WITH_TIMEOUT(model->rowCount(root), 3, waitCeilingMs);
        for (const QString &name : c.selected)
            view->selectionModel()->select(model->index(dir.filePath(name)),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QPushButton *add = panel.findChild<QDialogButtonBox *>("buttonBox")->button(QDialogButtonBox::Open);
        ASSERT_TRUE(add) << c.name;
        // A folder among the selection does not turn the button into one that opens it.
        EXPECT_EQ(add->text(), "Smart Add") << c.name;
        ASSERT_TRUE(add->isEnabled()) << c.name;
        add->click();
        EXPECT_EQ(panel.result(), QDialog::Accepted) << c.name;
        QStringList chosen;
        for (const QString &path : panel.chosen())
            chosen.append(QDir(dir.path()).relativeFilePath(path));
        chosen.sort();
        EXPECT_EQ(chosen, c.chosen) << c.name;
    }
}

} // namespace
