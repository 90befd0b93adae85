#include "catalogdb/OVNDatabaseAccess.h"

#include "../support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <QDateTime>
#include <QRegularExpression>
#include <QTimeZone>

#include <ctime>
#include <vector>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray data;
    for (int value : values)
        data.append(char(value));
    return data;
}

QByteArray bigEndian64(qint64 value)
{
    QByteArray data(8, '\0');
    for (int i = 7; i >= 0; --i) {
        data[i] = char(value & 0xFF);
        value >>= 8;
    }
    return data;
}

QByteArray doubleBytes(double value)
{
    qint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bigEndian64(bits);
}

// A numeric in the binary format: digit groups of base 10000.
QByteArray numeric(int weight, int sign, int scale, std::initializer_list<int> groups)
{
    QByteArray data;
    const auto put16 = [&data](int value) {
        data.append(char((value >> 8) & 0xFF));
        data.append(char(value & 0xFF));
    };
    put16(int(groups.size()));
    put16(weight);
    put16(sign);
    put16(scale);
    for (int group : groups)
        put16(group);
    return data;
}

QString text(const std::optional<QVariant> &value) { return value ? value->toString() : QStringLiteral("<none>"); }

} // namespace

TEST(PostgresValuesTest, IntegersAreBigEndianAndOnlyOfThreeWidths)
{
    EXPECT_EQ(OVNDatabaseAccess::integerObjectFromBytes(bytes({0xFF, 0xFE})), -2);
    EXPECT_EQ(OVNDatabaseAccess::integerObjectFromBytes(bytes({0x00, 0x01, 0x00, 0x00})), 65536);
    EXPECT_EQ(OVNDatabaseAccess::integerObjectFromBytes(bigEndian64(-1234567890123LL)), -1234567890123LL);
    EXPECT_FALSE(OVNDatabaseAccess::integerObjectFromBytes(bytes({1, 2, 3})));
    EXPECT_FALSE(OVNDatabaseAccess::integerObjectFromBytes(QByteArrayView()));
    EXPECT_EQ(
        OVNDatabaseAccess::float64FromBytes(reinterpret_cast<const unsigned char *>(doubleBytes(-2.5).constData())),
        -2.5);
    // A value of the wrong width for its type is malformed, not read short.
    EXPECT_FALSE(OVNDatabaseAccess::postgresBinaryValue(23, bytes({0, 0, 0, 0, 0, 0, 0, 1}), true));
    EXPECT_EQ(text(OVNDatabaseAccess::postgresBinaryValue(23, bytes({0, 0, 1, 0}), true)), QStringLiteral("256"));
    EXPECT_EQ(text(OVNDatabaseAccess::postgresBinaryValue(16, bytes({1}), true)), QStringLiteral("t"));
}

TEST(PostgresValuesTest, TimestampsAreTheWallClockTimeWritten)
{
    const auto zero = OVNDatabaseAccess::timestampFromBytes(bigEndian64(0), true);
    ASSERT_TRUE(zero);
    EXPECT_EQ(zero->date(), QDate(2000, 1, 1));
    EXPECT_EQ(zero->time(), QTime(0, 0));
    EXPECT_EQ(*zero, OVNDatabaseAccess::epochDate());

    const auto nextDay = OVNDatabaseAccess::timestampFromBytes(doubleBytes(86400.0), false);
    ASSERT_TRUE(nextDay);
    EXPECT_EQ(nextDay->date(), QDate(2000, 1, 2));
    EXPECT_EQ(nextDay->time(), QTime(0, 0));

    // Before the epoch, with microseconds that do not divide evenly.
    const auto before = OVNDatabaseAccess::timestampFromBytes(bigEndian64(-1500), true);
    ASSERT_TRUE(before);
    EXPECT_EQ(before->date(), QDate(1999, 12, 31));
    EXPECT_EQ(before->time(), QTime(23, 59, 59, 998));

    EXPECT_FALSE(OVNDatabaseAccess::timestampFromBytes(bytes({0, 0, 0, 0}), true));
    EXPECT_FALSE(OVNDatabaseAccess::timestampFromBytes(bigEndian64(std::numeric_limits<qint64>::max()), true));

    const QString shown = OVNDatabaseAccess::timestampText(*zero);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^2000-01-01 00:00:00 [+-]\\d{4}$")).match(shown).hasMatch())
        << qPrintable(shown);
    EXPECT_EQ(text(OVNDatabaseAccess::postgresBinaryValue(1114, bigEndian64(0), true)), shown);
}

// The listing's quick text form of a timestamp is the text form of the date it decodes to, offset
// included, through a year of both daylight-saving changes, before 1970 and after 2038.
TEST(PostgresValuesTest, TimestampTextsOfListingsMatchTheDecodedDates)
{
    const auto check = [](qint64 micros) {
        const auto decoded = OVNDatabaseAccess::timestampFromBytes(bigEndian64(micros), true);
        ASSERT_TRUE(decoded);
        EXPECT_EQ(text(OVNDatabaseAccess::postgresBinaryValue(1114, bigEndian64(micros), true)),
                  OVNDatabaseAccess::timestampText(*decoded))
            << micros;
    };
    const qint64 hour = 3600LL * 1000000;
    const qint64 start2024 = (QDate(2024, 1, 1).toJulianDay() - QDate(2000, 1, 1).toJulianDay()) * 24 * hour;
    for (qint64 t = start2024; t < start2024 + 366 * 24 * hour; t += 7 * hour + 1234567)
        check(t);
    check(-30LL * 365 * 24 * hour - 17);
    check(40LL * 365 * 24 * hour + 59 * 60 * 1000000LL);
}

// A moment's text from the C library's local time is the text of Qt's local time, in zones of
// whole, half and three-quarter hours, through both daylight-saving changes of a year, before
// 1970, after 2038 and past the years of four digits.
TEST(PostgresValuesTest, TheCLibrarysLocalTimeWritesWhatQtsDoes)
{
    const QByteArray before = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    const qint64 start2024 = QDateTime(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch();
    for (const char *zone : {"UTC", "Europe/Berlin", "America/St_Johns", "Asia/Kathmandu", "Australia/Lord_Howe"}) {
        SCOPED_TRACE(zone);
        qputenv("TZ", zone);
        ::tzset();
        std::vector<qint64> moments{
            0, -1, -30LL * 365 * 86400 - 17, 40LL * 365 * 86400 + 3599, 253402300799LL, 253402300800LL, -62135596800LL};
        for (qint64 t = start2024; t < start2024 + 366 * 86400; t += 7 * 3600 + 1234)
            moments.push_back(t);
        for (const qint64 moment : moments)
            EXPECT_EQ(OVNDatabaseAccess::localTimestampText(moment),
                      OVNDatabaseAccess::timestampText(QDateTime::fromSecsSinceEpoch(moment)))
                << moment;
    }
    if (hadZone)
        qputenv("TZ", before);
    else
        qunsetenv("TZ");
    ::tzset();
}

TEST(PostgresValuesTest, NumericsKeepTheirScale)
{
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(0, 0, 1, {12, 5000})), QStringLiteral("12.5"));
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(-1, 0x4000, 4, {12})), QStringLiteral("-0.0012"));
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(1, 0, 0, {1})), QStringLiteral("10000"));
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(1, 0, 3, {12, 3456, 7890})),
              QStringLiteral("123456.789"));
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(0, 0, 10, {0})), QStringLiteral("0.0000000000"));
    EXPECT_EQ(OVNDatabaseAccess::numericTextFromBytes(numeric(0, 0xC000, 0, {})), QStringLiteral("NaN"));
    EXPECT_FALSE(OVNDatabaseAccess::numericTextFromBytes(numeric(0, 0, 0, {10000})));
    EXPECT_FALSE(OVNDatabaseAccess::numericTextFromBytes(numeric(0, 0x1234, 0, {1})));
    QByteArray truncated = numeric(1, 0, 0, {1, 2});
    truncated.chop(1);
    EXPECT_FALSE(OVNDatabaseAccess::numericTextFromBytes(truncated));
}

TEST(PostgresValuesTest, ByteaLiteralEscapesForStandardConformingStrings)
{
    EXPECT_EQ(OVNDatabaseAccess::quotedStringFromData(bytes({0x00, 0x27, 0x41})), QStringLiteral("'\\000''A'"));
    EXPECT_EQ(OVNDatabaseAccess::quotedStringFromData(bytes({0x5C, 0xFF, 0x7E})), QStringLiteral("'\\\\\\377~'"));
    EXPECT_EQ(OVNDatabaseAccess::quotedStringFromData(QByteArray()), QStringLiteral("''"));
}

// The decoders read what a real server sends in the binary result format.
TEST(PostgresValuesTest, DecodesTheServersBinaryResults)
{
    const std::optional<PgTestServer> server = pgTestServer();
    OVN_REQUIRE_PG_SERVER(server);
    const QByteArray port = QByteArray::number(server->port);
    const QByteArray host = server->host.toUtf8(), user = server->user.toUtf8(), name = server->database.toUtf8();
    const char *keys[] = {"host", "port", "user", "dbname", "options", nullptr};
    const char *values[] = {host.constData(),
                            port.constData(),
                            user.constData(),
                            name.constData(),
                            "-c standard_conforming_strings=on -c client_encoding=UTF8",
                            nullptr};
    std::unique_ptr<PGconn, void (*)(PGconn *)> connection(PQconnectdbParams(keys, values, 0), PQfinish);
    ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    const bool integerDateTimes = QByteArray(PQparameterStatus(connection.get(), "integer_datetimes")) == "on";

    const QByteArray statement =
        "select 42::int2, -7::int4, 9000000000::int8, 'Grüße ''x'' \\ %1'::text, "
        "'\\x00275c'::bytea, 12.5::numeric(20,10), 0.1::float8, '2024-05-01 10:11:12'::timestamp, true, "
        "'1999-12-31'::date, "
        + OVNDatabaseAccess::quotedStringFromData(QByteArray("\0'\\A\xff", 5)).toUtf8() + "::bytea";
    PGresult *result = PQexecParams(connection.get(), statement.constData(), 0, nullptr, nullptr, nullptr, nullptr, 1);
    ASSERT_EQ(PQresultStatus(result), PGRES_TUPLES_OK) << PQresultErrorMessage(result);
    QVariantList row;
    for (int column = 0; column < PQnfields(result); ++column) {
        const auto value = OVNDatabaseAccess::postgresBinaryValue(
            PQftype(result, column), QByteArrayView(PQgetvalue(result, 0, column), PQgetlength(result, 0, column)),
            integerDateTimes);
        ASSERT_TRUE(value) << column;
        row.append(*value);
    }
    PQclear(result);
    EXPECT_EQ(row.at(0).toString(), QStringLiteral("42"));
    EXPECT_EQ(row.at(1).toString(), QStringLiteral("-7"));
    EXPECT_EQ(row.at(2).toString(), QStringLiteral("9000000000"));
    EXPECT_EQ(row.at(3).toString(), QStringLiteral("Grüße 'x' \\ %1"));
    EXPECT_EQ(row.at(4).toByteArray(), QByteArray("\0'\\", 3));
    EXPECT_EQ(row.at(5).toString(), QStringLiteral("12.5000000000"));
    EXPECT_EQ(row.at(6).toString(), QStringLiteral("0.1"));
    EXPECT_TRUE(row.at(7).toString().startsWith(QStringLiteral("2024-05-01 10:11:12 ")))
        << qPrintable(row.at(7).toString());
    EXPECT_EQ(row.at(8).toString(), QStringLiteral("t"));
    EXPECT_EQ(row.at(9).toString(), QStringLiteral("1999-12-31"));
    EXPECT_EQ(row.at(10).toByteArray(), QByteArray("\0'\\A\xff", 5));
}
