#include "browser/OVNMediaDetailsDataSource.h"

OVNMediaDetailsDataSource::~OVNMediaDetailsDataSource() = default;

QString OVNMediaDetailsDataSource::ovnMediaDetailsStringForID(OVNMediaDetails *, const QString &) { return QString(); }

int OVNMediaDetailsDataSource::ovnMediaDetailsSelectionCount(OVNMediaDetails *) { return 0; }

QList<int> OVNMediaDetailsDataSource::ovnMediaDetailsSelections(OVNMediaDetails *) { return {}; }

QString OVNMediaDetailsDataSource::ovnMediaDetailsStringForIDForRow(OVNMediaDetails *, const QString &, int)
{
    return QString();
}

bool OVNMediaDetailsDataSource::isUserAuthorizedForAccessCurrentSelectionWithType(const QString &, bool)
{
    return true;
}

void OVNMediaDetailsDataSource::buttonBurnCDClick(QObject *) {}
void OVNMediaDetailsDataSource::buttonAutoFillClick(QObject *) {}
void OVNMediaDetailsDataSource::buttonSendAsEmailClick(QObject *) {}

std::optional<QString> OVNMediaDetailsDataSource::ovnMediaDetailsStoredValue(OVNMediaDetails *, Table, const QString &,
                                                                             const QString &)
{
    return std::nullopt;
}

int OVNMediaDetailsDataSource::numberOfRowsInExifForOVNMediaDetails(OVNMediaDetails *) { return 0; }

QString OVNMediaDetailsDataSource::ovnMediaDetailsExifTagAtRow(OVNMediaDetails *, int) { return QString(); }

QString OVNMediaDetailsDataSource::ovnMediaDetailsExifValueAtRow(OVNMediaDetails *, int) { return QString(); }
