#pragma once

#include <QVariantMap>

// What the metadata readers give for one file: display keys ("CameraMake", "Orientation",
// "DC Title", ...) to strings or numbers. Integers are qint64 and reals double, so that the
// dictionary can be stored as a property list as it stands.
using MetadataDictionary = QVariantMap;
