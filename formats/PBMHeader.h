#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The header of a Netpbm image ("P1" to "P7", width, height and, but for bitmaps, the largest
// sample value), read from a byte buffer with every read checked against its end.
class PBMHeader
{
public:
    enum Error { NoError = 0, NotANumber = 1, EndOfData = 2 };

    // Nothing when the data does not start with "P" and a digit 1 to 7; otherwise the parsed
    // header, whose errorNumber() says whether the numbers could be read.
    static std::optional<PBMHeader> initWithData(const QByteArray &data);

    int pnmType() const { return m_pnmType; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int depth() const { return m_depth; }                 // the largest sample value; 0 for P1 and P4
    qsizetype inputIndex() const { return m_inputIndex; } // the first pixel byte after a good parse
    int errorNumber() const { return m_errNumber; }
    const QString &hdrDesc() const { return m_hdrDesc; }
    QString description() const { return m_hdrDesc; }

    // The next header character, a comment standing as its line end; 0 at the end of the data.
    char pbm_getc();
    // The next header number; sets NotANumber when it does not start with a digit or does not fit
    // an int. The one character after the digits is consumed.
    int pbm_getint();

private:
    explicit PBMHeader(const QByteArray &data);

    QByteArray m_data;
    int m_pnmType = 0;
    int m_width = 0;
    int m_height = 0;
    int m_depth = 0;
    int m_errNumber = NoError;
    qsizetype m_inputIndex = 0;
    QString m_hdrDesc;
};
