#include "platform/PasswordHash.h"
#include "platform/PostgresConnection.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(PasswordHashTest, HashesWithTheTwoCharacterSaltAndChecksAgainstTheStoredHash)
{
    const QString stored = PasswordHash::hash(QStringLiteral("secret"), QStringLiteral("Qz"));
    EXPECT_EQ(stored, QStringLiteral("Qz8FzPg0geGx2")); // crypt(3)'s classic DES form
    EXPECT_TRUE(PasswordHash::matches(QStringLiteral("secret"), stored));
    EXPECT_FALSE(PasswordHash::matches(QStringLiteral("Secret"), stored));
    EXPECT_TRUE(PasswordHash::hash(QStringLiteral("secret"), QStringLiteral("Vx")).startsWith(QStringLiteral("Vx")));
    // The classic scheme reads eight characters only.
    const QString long1 = PasswordHash::hash(QStringLiteral("password1"), QStringLiteral("Qz"));
    EXPECT_TRUE(PasswordHash::matches(QStringLiteral("password2"), long1));
}

TEST(PasswordHashTest, EmptyAndStarHashesAndEmptyPasswordsNeverMatch)
{
    EXPECT_FALSE(PasswordHash::matches(QStringLiteral("secret"), QString()));
    EXPECT_FALSE(PasswordHash::matches(QStringLiteral("secret"), QStringLiteral("*")));
    EXPECT_FALSE(PasswordHash::matches(QStringLiteral("secret"), QStringLiteral("*0")));
    EXPECT_FALSE(PasswordHash::matches(QString(), QString()));
    EXPECT_TRUE(PasswordHash::hash(QString(), QStringLiteral("Qz")).isEmpty());
    EXPECT_FALSE(PasswordHash::matches(QString(), PasswordHash::hash(QStringLiteral("x"), QStringLiteral("Qz"))));
    // A salt crypt does not know makes no hash, never a "*" text that could be stored.
    EXPECT_TRUE(PasswordHash::hash(QStringLiteral("secret"), QStringLiteral("!!")).isEmpty());
    EXPECT_TRUE(PasswordHash::hash(QString::fromLatin1("se\0cret", 7), QStringLiteral("Qz")).isEmpty());
}

TEST(PasswordHashTest, PasswordsAreHashedAsMacRomanBytes)
{
    EXPECT_EQ(PasswordHash::toMacRoman(QStringLiteral("Grüße")), QByteArray("Gr\x9f\xa7"
                                                                            "e"));
    EXPECT_EQ(PasswordHash::fromMacRoman(QByteArray("Gr\x9f\xa7"
                                                    "e \xdb")),
              QStringLiteral("Grüße €"));
    EXPECT_FALSE(PasswordHash::toMacRoman(QStringLiteral("東京")));
    for (int byte = 0; byte < 256; ++byte) {
        const QByteArray one(1, char(byte));
        EXPECT_EQ(PasswordHash::toMacRoman(PasswordHash::fromMacRoman(one)), one) << byte;
    }
    // A password Mac OS Roman cannot hold still hashes and checks.
    const QString stored = PasswordHash::hash(QStringLiteral("東京"), QStringLiteral("Qz"));
    EXPECT_FALSE(stored.isEmpty());
    EXPECT_TRUE(PasswordHash::matches(QStringLiteral("東京"), stored));
}

TEST(PasswordHashTest, HashingFromManyThreadsGivesTheSameHashes)
{
    const QString expected = PasswordHash::hash(QStringLiteral("secret"), QStringLiteral("Qz"));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (PasswordHash::hash(QStringLiteral("secret"), QStringLiteral("Qz")) != expected)
                    ++wrong;
            }
        });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(PostgresConnectionTest, HostSettingsCarryAnOptionalPort)
{
    using S = PostgresConnection;
    S::Settings s = S::settingsFor(QStringLiteral("db.example.org:5433"), QStringLiteral("u"), QStringLiteral("p"),
                                   QStringLiteral("mediadb"));
    EXPECT_EQ(s.host, QStringLiteral("db.example.org"));
    EXPECT_EQ(s.port, 5433);
    EXPECT_EQ(s.user, QStringLiteral("u"));
    EXPECT_EQ(s.database, QStringLiteral("mediadb"));
    EXPECT_EQ(s.connectTimeoutSeconds, 5);

    s = S::settingsFor(QStringLiteral("localhost"), {}, {}, {});
    EXPECT_EQ(s.host, QStringLiteral("localhost"));
    EXPECT_EQ(s.port, 0);
    s = S::settingsFor(QStringLiteral("/run/postgresql:6000"), {}, {}, {});
    EXPECT_EQ(s.host, QStringLiteral("/run/postgresql"));
    EXPECT_EQ(s.port, 6000);
    s = S::settingsFor(QStringLiteral("::1"), {}, {}, {});
    EXPECT_EQ(s.host, QStringLiteral("::1"));
    EXPECT_EQ(s.port, 0);
    s = S::settingsFor(QStringLiteral("[::1]:5432"), {}, {}, {});
    EXPECT_EQ(s.host, QStringLiteral("::1"));
    EXPECT_EQ(s.port, 5432);
    s = S::settingsFor(QStringLiteral("host:notaport"), {}, {}, {});
    EXPECT_EQ(s.host, QStringLiteral("host:notaport"));
    s = S::settingsFor(QString(), {}, {}, {});
    EXPECT_TRUE(s.host.isEmpty()); // the local socket
}
