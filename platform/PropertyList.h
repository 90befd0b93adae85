#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Property lists: the settings file, resource presets, category comments and stored searches all
// use them. Values are QVariant: QString, QByteArray (data), QDateTime (date), bool, qint64/int
// (integer), double (real), QVariantList (array) and QVariantMap (dictionary).
//
// Readers treat their input as untrusted: a malformed document gives an error message and an
// invalid QVariant, never a crash; nesting is bounded and no external entity is loaded.
class PropertyList
{
public:
    enum class Format { Xml, OpenStep, Binary };

    // Deepest nesting of arrays and dictionaries a reader accepts.
    static constexpr int maximumDepth = 512;

    // Reads any of the three forms, recognised by their first bytes. `format`, when given, tells
    // which one was read.
    static QVariant read(const QByteArray &data, QString *errorMessage = nullptr, Format *format = nullptr);

    static QVariant readXml(const QByteArray &data, QString *errorMessage = nullptr);
    static QVariant readOpenStep(const QByteArray &data, QString *errorMessage = nullptr);
    static QVariant readBinary(const QByteArray &data, QString *errorMessage = nullptr);

    // The XML form with its DOCTYPE, as the settings file and the pasteboard carry it. Answers an
    // empty array and sets the message when the value holds a type a property list cannot carry.
    static QByteArray writeXml(const QVariant &value, QString *errorMessage = nullptr);

    // The old text form. It has no numbers, booleans or dates: they are written as their text
    // (integers and reals locale-free, booleans "YES"/"NO", dates in ISO 8601 UTC).
    static QByteArray writeOpenStep(const QVariant &value, QString *errorMessage = nullptr);
};
