// The alert at the end of an import: counts first, then the whole of both lists in the details.
#include "import/OVNImportMedia.h"

#include <gtest/gtest.h>

namespace {

using Failure = OVNImportWorker::Failure;

TEST(ImportReportTest, CountsComeFirstAndBothListsAreWhole)
{
    struct Case {
        const char *name;
        int imported;
        QList<Failure> failures;
        QStringList stoppedBefore; // paths the import never reached
        QString message;
        QStringList counts;  // the informative text's lines before the blank line
        QStringList details; // lines of the details
    };
    QList<Failure> many;
    QStringList manyLines{"Not imported:"};
    for (int i = 0; i < 25; ++i) {
        many.append({QStringLiteral("/in/f%1.zzq").arg(i), "no importer for this type"});
        manyLines.append(QStringLiteral("/in/f%1.zzq: no importer for this type").arg(i));
    }
    const QList<Case> cases{
        {"nothing went wrong", 3, {}, {}, "", {}, {}},
        {"both lists",
         5,
         {{"/in/a.psd", "catalogued with an icon: the picture cannot be read", true},
          {"/in/b.zzq", "no importer for this type"},
          {"/in/c.jpg", "catalogued without its metadata: disk full", true}},
         {},
         "Some files were not imported.",
         {"Imported: 5 files", "Not imported: 1 file", "Catalogued with an icon or without some details: 2 files"},
         {"Not imported:", "/in/b.zzq: no importer for this type", "",
          "Catalogued with an icon or without some details:",
          "/in/a.psd: catalogued with an icon: the picture cannot be read",
          "/in/c.jpg: catalogued without its metadata: disk full"}},
        {"only icons",
         1,
         {{"/in/a.psd", "catalogued with an icon: the picture cannot be read", true}},
         {},
         "Some files were catalogued with an icon.",
         {"Imported: 1 file", "Catalogued with an icon or without some details: 1 file"},
         {"Catalogued with an icon or without some details:",
          "/in/a.psd: catalogued with an icon: the picture cannot be read"}},
        {"an icon, then refused by the catalog: once, as not imported",
         0,
         {{"/in/a.psd", "catalogued with an icon: the picture cannot be read", true},
          {"/in/a.psd", "the catalog refused the entry: disk full"}},
         {"/in/a.psd"},
         "Some files were not imported.",
         {"Imported: 0 files", "Not imported: 1 file"},
         {"Not imported:", "/in/a.psd: the catalog refused the entry: disk full"}},
        {"a byte that is not UTF-8 looks unlike a typed backslash",
         0,
         {{QStringLiteral("/in/caf") + QChar(0xDCE9) + QStringLiteral(".jpg"), "the name is not valid UTF-8"},
          {"/in/caf\\xE9.jpg", "no importer for this type"}},
         {},
         "Some files were not imported.",
         {"Imported: 0 files", "Not imported: 2 files"},
         {"Not imported:", "/in/caf\\xE9.jpg: the name is not valid UTF-8",
          "/in/caf\\\\xE9.jpg: no importer for this type"}},
        {"a stopped import names what it never reached",
         0,
         {},
         {"/in/x.jpg", "/in/y.jpg"},
         "Some files were not imported.",
         {"Imported: 0 files", "Not imported: 2 files"},
         {"Not imported:", "/in/x.jpg", "/in/y.jpg"}},
        {"a long list is not cut",
         0,
         many,
         {},
         "Some files were not imported.",
         {"Imported: 0 files", "Not imported: 25 files"},
         manyLines},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OVNImportWorker::Summary summary;
        for (int i = 0; i < c.imported; ++i)
            summary.importedIds.append(QString::number(i));
        summary.failures = c.failures;
        summary.notImported = c.stoppedBefore;
        const OVNImportMedia::Report report = OVNImportMedia::importReport(summary);
        EXPECT_EQ(report.message, c.message);
        EXPECT_EQ(report.informativeText.section("\n\n", 0, 0).split('\n', Qt::SkipEmptyParts), c.counts);
        EXPECT_EQ(report.details.isEmpty() ? QStringList() : report.details.split('\n'), c.details);
    }
}

// A stop while folders were still being listed: the folders left unread are named as folders, in
// the counts and in the stop's message, and none of them counts as a file.
TEST(ImportReportTest, FoldersLeftUnreadAreNamedApartFromTheFiles)
{
    OVNImportWorker::Summary summary;
    summary.importedIds = {"1"};
    summary.failures = {{"/in/later", "the folder was not read: the import stopped"},
                        {"/in/b.zzq", "no importer for this type"}};
    summary.notImported = {"/in/later", "/in/b.zzq", "/in/c.jpg"};
    summary.foldersNotRead = {"/in/later"};

    EXPECT_EQ(OVNImportWorker::notImportedText(summary), "2 files were not imported. 1 folder was not read.");
    const OVNImportMedia::Report report = OVNImportMedia::importReport(summary);
    EXPECT_EQ(report.message, "Some files were not imported.");
    EXPECT_EQ(report.informativeText.section("\n\n", 0, 0).split('\n'),
              (QStringList{"Imported: 1 file", "Not imported: 2 files", "Not read: 1 folder"}));
    EXPECT_EQ(report.details.split('\n'),
              (QStringList{"Not imported:", "/in/b.zzq: no importer for this type", "/in/c.jpg", "",
                           "Folders not read:", "/in/later: the folder was not read: the import stopped"}));
}

} // namespace
