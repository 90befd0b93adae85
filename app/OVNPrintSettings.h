#pragma once

#include <QPageLayout>
#include <QString>

#include <optional>

class QPrinter;
class UserDefaults;

// The contact sheet's options, paper and output file as the last print left them, kept in the
// preferences as one dictionary of strings ("PrintSettings"), so that every window's next sheet
// starts from them. Knows no window: the catalog window hands the thumbnail view's options in and
// takes them out.
struct OVNPrintSettings {
    std::optional<int> imagesPerLine; // 1 to the print options' most
    std::optional<int> style;         // 0 to 9
    bool selectionOnly = false;
    std::optional<QPageSize> pageSize;
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    QString outputFile; // the file the last sheet printed to a file went to
    bool toFile = false;

    // What the preferences hold, values out of range brought into it; nothing when none is kept.
    static std::optional<OVNPrintSettings> stored(UserDefaults &defaults);
    // Keeps a print's options and its printer's paper. A sheet printed on paper keeps the file of
    // the last sheet printed to a file.
    static void remember(UserDefaults &defaults, const QPrinter &printer, int imagesPerLine, int style,
                         bool selectionOnly);
    // The file the print panel proposes: the last sheet's, when it went to a file whose folder is
    // still there; "" otherwise (the panel then proposes its own).
    static QString proposedOutputFile(UserDefaults &defaults);
    // `paper` with the kept size (when there is one) and orientation.
    QPageLayout appliedTo(QPageLayout paper) const;
    // Every sheet's margins: 10 points all round.
    static void applyMargins(QPrinter &printer);
    // "6 Images per Line (2 pages)"; "1 Image per Line (1 page)".
    static QString statusText(int imagesPerLine, int pages);
};
