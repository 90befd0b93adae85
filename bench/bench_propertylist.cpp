// Property list reading and writing on documents of the size the program keeps: a preferences
// file with a few hundred entries, and larger lists of records.

#include "platform/PropertyList.h"

#include <benchmark/benchmark.h>

#include <QDateTime>

namespace {

// A list of `count` records shaped like the catalog's: strings, numbers, a date, a little data.
QVariantList records(int count)
{
    QVariantList list;
    const QDateTime when(QDate(2024, 5, 1), QTime(12, 30), Qt::UTC);
    for (int i = 0; i < count; ++i) {
        list.append(QVariantMap{
            {QStringLiteral("NAME"), QStringLiteral("IMG_%1.JPG").arg(i, 5, 10, QLatin1Char('0'))},
            {QStringLiteral("PATH"), QStringLiteral("/Volumes/Media/2024/Trip & \"Friends\"/")},
            {QStringLiteral("RATING"), QString::number(i % 6)},
            {QStringLiteral("WIDTH"), 4000 + i},
            {QStringLiteral("EXPOSURE"), 1.0 / (i + 1)},
            {QStringLiteral("DATE"), when.addSecs(i)},
            {QStringLiteral("FLAGS"), QByteArray(16, char(i))},
            {QStringLiteral("KEYWORDS"), QVariantList{QStringLiteral("sea"), QStringLiteral("Zoë")}},
        });
    }
    return list;
}

void BM_WriteXml(benchmark::State &state)
{
    const QVariant value = records(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PropertyList::writeXml(value));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteXml)->Arg(100)->Arg(10000);

void BM_ReadXml(benchmark::State &state)
{
    const QByteArray xml = PropertyList::writeXml(records(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(PropertyList::readXml(xml));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * xml.size());
}
BENCHMARK(BM_ReadXml)->Arg(100)->Arg(10000);

void BM_WriteOpenStep(benchmark::State &state)
{
    const QVariant value = records(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PropertyList::writeOpenStep(value));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_WriteOpenStep)->Arg(10000);

void BM_ReadOpenStep(benchmark::State &state)
{
    const QByteArray text = PropertyList::writeOpenStep(records(int(state.range(0))));
    for (auto _ : state)
        benchmark::DoNotOptimize(PropertyList::readOpenStep(text));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ReadOpenStep)->Arg(10000);

// A binary list: one array of `count` references to ASCII strings and 2-byte integers.
QByteArray binaryList(int count)
{
    auto bigEndian = [](quint64 value, int width) {
        QByteArray bytes(width, '\0');
        for (int i = width - 1; i >= 0; --i, value >>= 8)
            bytes[i] = char(value & 0xff);
        return bytes;
    };
    QByteArray file("bplist00");
    QList<quint64> offsets;
    for (int i = 0; i < count; ++i) {
        offsets.append(quint64(file.size()));
        if (i % 2) {
            file.append('\x11');
            file.append(bigEndian(quint64(i), 2));
        } else {
            const QByteArray text = "string number " + QByteArray::number(i);
            file.append(char(0x50 | 0xf));
            file.append('\x10');
            file.append(char(text.size()));
            file.append(text);
        }
    }
    offsets.append(quint64(file.size()));
    file.append(char(0xa0 | 0xf));
    file.append('\x12');
    file.append(bigEndian(quint64(count), 4));
    for (int i = 0; i < count; ++i)
        file.append(bigEndian(quint64(i), 4));
    const quint64 table = quint64(file.size());
    for (quint64 offset : offsets)
        file.append(bigEndian(offset, 4));
    file.append(QByteArray(6, '\0'));
    file.append(char(4));
    file.append(char(4));
    file.append(bigEndian(quint64(offsets.size()), 8));
    file.append(bigEndian(quint64(count), 8));
    file.append(bigEndian(table, 8));
    return file;
}

void BM_ReadBinary(benchmark::State &state)
{
    const QByteArray file = binaryList(int(state.range(0)));
    if (PropertyList::readBinary(file).toList().size() != state.range(0))
        state.SkipWithError("the benchmark's binary list does not read");
    for (auto _ : state)
        benchmark::DoNotOptimize(PropertyList::readBinary(file));
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(state.iterations() * file.size());
}
BENCHMARK(BM_ReadBinary)->Arg(100000);

} // namespace
