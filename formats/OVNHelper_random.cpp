#include "formats/OVNHelper.h"

#include <QRandomGenerator>

int RandomIntBetween(int low, int high)
{
    const qint64 lower = qMin(low, high);
    const qint64 upper = qMax(low, high);
    // bounded() draws uniformly below its bound; the span of two ints always fits in 64 bits.
    return static_cast<int>(lower + QRandomGenerator::global()->bounded(upper - lower + 1));
}
