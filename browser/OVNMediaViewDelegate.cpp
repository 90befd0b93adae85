#include "browser/OVNMediaViewDelegate.h"

// The defaults do nothing; the view only sends what capabilities() declares.

QByteArray OVNMediaViewDelegate::ovnMediaViewThumbnailData(OVNMediaView *, const QString &) { return QByteArray(); }

void OVNMediaViewDelegate::ovnMediaViewSelectionDidChange(OVNMediaView *) {}
void OVNMediaViewDelegate::ovnMediaViewDoubleClickWithModifierFlag(OVNMediaView *, Qt::KeyboardModifiers) {}

bool OVNMediaViewDelegate::isUserAuthorizedForAccessCurrentSelectionWithType(const QString &, bool) { return true; }

void OVNMediaViewDelegate::ovnMediaViewEscape(OVNMediaView *) {}
void OVNMediaViewDelegate::windowZoomPanel(OVNMediaView *) {}
void OVNMediaViewDelegate::delete_(OVNMediaView *) {}
void OVNMediaViewDelegate::ovnMediaViewOpenWithDefaultViewer(OVNMediaView *) {}
void OVNMediaViewDelegate::ovnMediaViewOpenWithCreator(OVNMediaView *) {}
void OVNMediaViewDelegate::ovnMediaViewReimportSelection(OVNMediaView *) {}
void OVNMediaViewDelegate::ovnMediaViewRelinkSelection(OVNMediaView *) {}
void OVNMediaViewDelegate::menuSetRating(int) {}

bool OVNMediaViewDelegate::ovnMediaViewWillDeleteEntry(OVNMediaView *, int) { return false; }

void OVNMediaViewDelegate::ovnMediaViewDidDeleteEntry(OVNMediaView *, int) {}
bool OVNMediaViewDelegate::isUserAuthorizedForAccessMediaContainerWithType(OVNMediaView *, const QString &)
{
    return true;
}

bool OVNMediaViewDelegate::ovnMediaViewAddFiles(OVNMediaView *, const QStringList &, const QStringList &)
{
    return false;
}
void OVNMediaViewDelegate::ovnMediaViewMoveMids(OVNMediaView *, const QStringList &, const QString &, const QString &)
{}
void OVNMediaViewDelegate::ovnMediaViewLinkMids(OVNMediaView *, const QStringList &, const QString &) {}
std::optional<QSet<QString>> OVNMediaViewDelegate::ovnMediaViewLeftOutOfHandOn(OVNMediaView *, const QList<int> &)
{
    return QSet<QString>();
}
bool OVNMediaViewDelegate::ovnMediaViewTakesFiles(OVNMediaView *, const QStringList &) { return true; }
