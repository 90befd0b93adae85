#pragma once

#include <QString>

// Names for temporary files: a free path in the temporary folder from a name template.
namespace TemporaryFiles {

// A path in the temporary folder at which nothing exists yet, named by the template with a
// random number from 0 to 100000 in place of its one integer conversion (%i or %d, with an
// optional width and "0" or "-" flag). The template is used for nothing else: "%%" is a
// percent sign and any other "%" stays as it is; "/" in it cannot reach another folder.
// Null when there is no temporary folder or no free name was found.
QString tempfileWithTemplate(const QString &nameTemplate);
// The template with the number put in, as tempfileWithTemplate names its files.
QString fileNameFromTemplate(const QString &nameTemplate, int number);

} // namespace TemporaryFiles

// A uniformly drawn integer between the two bounds, both included, in either order.
int RandomIntBetween(int low, int high);
