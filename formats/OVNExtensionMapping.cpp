#include "formats/OVNExtensionMapping.h"

#include "formats/OVNExtensionMappingHelper.h"

#include "platform/UserDefaults.h"

namespace {

const QString kExtensionKey = QStringLiteral("extension");
const QString kHfsTypeKey = QStringLiteral("hfstype");
const QString kPreferenceKey = QStringLiteral("FileTypeMapping");

QString none() { return QString::fromLatin1(kFileTypeNone); }

QString valueOrNone(const FileTypeEntry &row, const QString &key)
{
    const auto it = row.constFind(key);
    if (it == row.constEnd())
        return none();
    return it->toString();
}

} // namespace

OVNExtensionMapping::OVNExtensionMapping() : m_extensionMap(OVNExtensionMappingHelper::getCurrentMapping())
{
    reindex();
}

OVNExtensionMapping::OVNExtensionMapping(FileTypeTable table) : m_extensionMap(std::move(table)) { reindex(); }

void OVNExtensionMapping::reindex()
{
    m_firstRowByExtension.clear();
    m_firstRowByHfsType.clear();
    m_exifExtensions.clear();
    m_iptcExtensions.clear();
    for (qsizetype i = 0; i < m_extensionMap.size(); ++i) {
        const FileTypeEntry &row = m_extensionMap.at(i);
        const auto extension = row.constFind(kExtensionKey);
        if (extension != row.constEnd()) {
            const QString text = extension->toString();
            if (!m_firstRowByExtension.contains(text))
                m_firstRowByExtension.insert(text, i);
            if (row.value(QStringLiteral("exif")).toString() == QLatin1String("1"))
                m_exifExtensions.insert(text);
            if (row.value(QStringLiteral("iptc")).toString() == QLatin1String("1"))
                m_iptcExtensions.insert(text);
        }
        const auto hfsType = row.constFind(kHfsTypeKey);
        if (hfsType != row.constEnd()) {
            const QString text = hfsType->toString();
            if (!m_firstRowByHfsType.contains(text))
                m_firstRowByHfsType.insert(text, i);
        }
    }
}

int OVNExtensionMapping::count() const { return static_cast<int>(m_extensionMap.size()); }

FileTypeEntry OVNExtensionMapping::objectAtIndex(int index) const
{
    if (index < 0 || index >= count())
        return {};
    return m_extensionMap.at(index);
}

const FileTypeTable &OVNExtensionMapping::getExtensionMap() const { return m_extensionMap; }

bool OVNExtensionMapping::addObject(const FileTypeEntry &row)
{
    m_extensionMap.append(row);
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::replaceObjectAtIndex(int index, const FileTypeEntry &row)
{
    if (index < 0 || index >= count())
        return false;
    m_extensionMap[index] = row;
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::deleteObjectAtIndex(int index)
{
    if (index < 0 || index >= count())
        return false;
    m_extensionMap.removeAt(index);
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::duplicateObjectAtIndex(int index)
{
    if (index < 0 || index >= count())
        return false;
    const FileTypeEntry copy = m_extensionMap.at(index);
    m_extensionMap.insert(index, copy);
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::resetExtensionMapToMacOSX10_3()
{
    m_extensionMap = OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_3();
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::resetExtensionMapToMacOSX10_4()
{
    m_extensionMap = OVNExtensionMappingHelper::getDefaultMappingForMacOSX10_4();
    reindex();
    return saveExtensionMap();
}

bool OVNExtensionMapping::saveExtensionMap()
{
    QVariantList rows;
    rows.reserve(m_extensionMap.size());
    for (const FileTypeEntry &row : std::as_const(m_extensionMap))
        rows.append(row);
    UserDefaults &defaults = UserDefaults::standard();
    // The table the preferences edit is the stored one, also in a run given another on the command line.
    const bool written = defaults.setStoredObject(rows, kPreferenceKey);
    return defaults.synchronize() && written;
}

QString OVNExtensionMapping::getExtensionMapField(const QString &key, const QString &path) const
{
    return getExtensionMapField(key, path, 0);
}

QString OVNExtensionMapping::getExtensionMapField(const QString &key, const QString &path, quint32 hfsTypeCode) const
{
    if (path.isEmpty() || key.isEmpty())
        return none();

    const QString code = hfsTypeText(hfsTypeCode);
    if (!code.isNull()) {
        const auto row = m_firstRowByHfsType.constFind(code);
        if (row != m_firstRowByHfsType.constEnd())
            return valueOrNone(m_extensionMap.at(*row), key);
    }
    return fieldForExtension(key, pathExtension(path));
}

QString OVNExtensionMapping::getProcessorForFile(const QString &path, quint32 hfsTypeCode) const
{
    return getExtensionMapField(QStringLiteral("processor"), path, hfsTypeCode);
}

QString OVNExtensionMapping::getViewerForFile(const QString &path, quint32 hfsTypeCode) const
{
    return getExtensionMapField(QStringLiteral("viewer"), path, hfsTypeCode);
}

QString OVNExtensionMapping::getTypeForFile(const QString &path, quint32 hfsTypeCode) const
{
    return getExtensionMapField(QStringLiteral("type"), path, hfsTypeCode);
}

bool OVNExtensionMapping::getParseEXIFForFile(const QString &path, quint32 hfsTypeCode) const
{
    return getExtensionMapField(QStringLiteral("exif"), path, hfsTypeCode) == QLatin1String("1");
}

bool OVNExtensionMapping::getParseIPTCForFile(const QString &path, quint32 hfsTypeCode) const
{
    return getExtensionMapField(QStringLiteral("iptc"), path, hfsTypeCode) == QLatin1String("1");
}

QSize OVNExtensionMapping::getThumbSizeForFile(const QString &path, quint32 hfsTypeCode) const
{
    return thumbSizeForType(getTypeForFile(path, hfsTypeCode));
}

QString OVNExtensionMapping::getProcessorForExtension(const QString &extension) const
{
    return fieldForExtension(QStringLiteral("processor"), extension);
}

QString OVNExtensionMapping::getViewerForExtension(const QString &extension) const
{
    return fieldForExtension(QStringLiteral("viewer"), extension);
}

QString OVNExtensionMapping::getTypeForExtension(const QString &extension) const
{
    return fieldForExtension(QStringLiteral("type"), extension);
}

bool OVNExtensionMapping::getParseEXIFForExtension(const QString &extension) const
{
    return m_exifExtensions.contains(extension.toLower());
}

bool OVNExtensionMapping::getParseIPTCForExtension(const QString &extension) const
{
    return m_iptcExtensions.contains(extension.toLower());
}

QSize OVNExtensionMapping::getThumbSizeForExtension(const QString &extension) const
{
    return thumbSizeForType(getTypeForExtension(extension));
}

QSize OVNExtensionMapping::thumbSizeForType(const QString &type)
{
    QString preference;
    qint64 fallback = 256;
    if (type == QLatin1String("PDF")) {
        preference = QStringLiteral("PDFThumbnailSize");
        fallback = 1024;
    } else if (type == QLatin1String("Movie")) {
        preference = QStringLiteral("MovieThumbnailSize");
        fallback = 512;
    } else if (type == QLatin1String("Image")) {
        preference = QStringLiteral("ImageThumbnailSize");
    } else {
        return {256, 256};
    }
    qint64 side = UserDefaults::standard().integerForKey(preference);
    // A negative size would make every thumbnail of the type fail; it counts as unset.
    if (side <= 0)
        side = fallback;
    return {static_cast<int>(side), static_cast<int>(side)};
}

QString OVNExtensionMapping::hfsTypeText(quint32 hfsTypeCode)
{
    if (hfsTypeCode == 0)
        return {};
    QString text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<char>((hfsTypeCode >> shift) & 0xFF);
        if (byte < 0x20 || byte > 0x7E)
            return {};
        text.append(QLatin1Char(byte));
    }
    return text.trimmed();
}

QString OVNExtensionMapping::pathExtension(const QString &path)
{
    qsizetype end = path.size();
    while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
        --end;
    const qsizetype nameStart = path.lastIndexOf(QLatin1Char('/'), end - 1) + 1;
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'), end - 1);
    if (dot <= nameStart || dot < 0)
        return {};
    return path.mid(dot + 1, end - dot - 1);
}

QString OVNExtensionMapping::fieldForExtension(const QString &key, const QString &extension) const
{
    if (extension.isEmpty())
        return none();
    const auto row = m_firstRowByExtension.constFind(extension.toLower());
    if (row == m_firstRowByExtension.constEnd())
        return none();
    return valueOrNone(m_extensionMap.at(*row), key);
}
