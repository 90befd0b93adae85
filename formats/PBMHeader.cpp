#include "formats/PBMHeader.h"

#include <limits>

PBMHeader::PBMHeader(const QByteArray &data) : m_data(data) {}

std::optional<PBMHeader> PBMHeader::initWithData(const QByteArray &data)
{
    if (data.size() < 2 || data[0] != 'P' || data[1] < '1' || data[1] > '7')
        return std::nullopt;
    PBMHeader header(data);
    header.m_pnmType = data[1] - '0';
    header.m_inputIndex = 2;
    header.m_width = header.pbm_getint();
    header.m_height = header.pbm_getint();
    if (header.m_pnmType != 1 && header.m_pnmType != 4)
        header.m_depth = header.pbm_getint();
    header.m_hdrDesc = QString::fromLatin1(data.constData(), std::min(header.m_inputIndex, data.size()));
    return header;
}

char PBMHeader::pbm_getc()
{
    if (m_inputIndex >= m_data.size()) {
        m_errNumber = EndOfData;
        return 0;
    }
    char ch = m_data[m_inputIndex++];
    if (ch == '#') {
        do {
            if (m_inputIndex >= m_data.size()) {
                m_errNumber = EndOfData;
                return 0;
            }
            ch = m_data[m_inputIndex++];
        } while (ch != '\n' && ch != '\r');
    }
    return ch;
}

int PBMHeader::pbm_getint()
{
    char ch;
    do {
        ch = pbm_getc();
        if (m_errNumber == EndOfData)
            return 0;
    } while (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r');
    if (ch < '0' || ch > '9') {
        m_errNumber = NotANumber;
        return 0;
    }
    qint64 value = 0;
    do {
        value = value * 10 + (ch - '0');
        if (value > std::numeric_limits<int>::max()) {
            m_errNumber = NotANumber;
            return 0;
        }
        ch = pbm_getc();
    } while (ch >= '0' && ch <= '9' && m_errNumber != EndOfData);
    return int(value);
}
