#pragma once

#include <QImage>

class QMimeData;

// The picture on the clipboard: TIFF data first (what image editors put there at full depth),
// else any picture offered, else the first page of a PDF document.
namespace OVNClipboardPicture {
QImage fromMimeData(const QMimeData *data);
}
