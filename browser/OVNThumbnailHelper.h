#pragma once

#include <QString>
#include <QVariantMap>

// The built-in thumbnail cell layouts and the small record readings every cell drawing shares.
class OVNThumbnailHelper
{
public:
    // A new layout dictionary for built-in layout 0 "Contact Sheet", 1 "Plain Image View",
    // 2 "Plain Image View with Title" or 3 "List View"; an empty one for any other index.
    static QVariantMap getLayoutForThumbnail(int index);
    // The four built-in layouts in order.
    static QVariantList builtInLayouts();
    // What a thumbnail style is called wherever it is chosen (the View menu, the toolbar, the
    // layout editor's list): the name of its built-in layout, and "Compact" for the express
    // panel's style 4, which has none. Not localized.
    static const char *styleName(int style);

    // A file type names a movie when it has at least five characters and begins with "Movie".
    static bool isMovieFileType(const QString &fileType);
    // The whole seconds after the first ";" of a movie's file type ("Movie;23788"); 0 when none.
    static int movieDurationSeconds(const QString &fileType);
    // "%02d:%02d:%02d" of hours, minutes and seconds; "" for a duration not above 0.
    static QString durationText(int seconds);
    // A rating as drawn: the stored value's integer, kept within 0 to 5.
    static int drawnRating(const QString &rating);
    // "WxH" of the picture as it is shown, upright: the stored width and height (as the file holds
    // the picture) swapped when the stored orientation code turns it a quarter. "" when neither
    // is known.
    static QString uprightSizeText(const QString &width, const QString &height, const QString &orientation);
};
