#include "platform/UserDefaults.h"

#include "platform/PropertyList.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QPoint>
#include <QTemporaryDir>

#include <atomic>
#include <clocale>
#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// The file's settings as a fresh reader sees them.
QVariantMap fileContents(const QString &path) { return PropertyList::readXml(readFile(path)).toMap(); }

bool runningAsRoot() { return ::geteuid() == 0; }

class UserDefaultsFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("ostrevan/preferences.plist"));
    }

    QTemporaryDir m_dir;
    QString m_path;
};

} // namespace

TEST(UserDefaultsTest, ArgumentBeatsFileBeatsRegistered)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("preferences.plist"));
    UserDefaults defaults(path);
    defaults.registerDefaults({{"A", "registered"}, {"B", "registered"}, {"C", "registered"}});
    EXPECT_TRUE(defaults.setObject(QStringLiteral("file"), QStringLiteral("A")));
    EXPECT_TRUE(defaults.setObject(QStringLiteral("file"), QStringLiteral("B")));
    defaults.setArguments({"ostrevan", "-A", "argument"});

    EXPECT_EQ(defaults.stringForKey("A"), "argument");
    EXPECT_EQ(defaults.stringForKey("B"), "file");
    EXPECT_EQ(defaults.stringForKey("C"), "registered");
    EXPECT_FALSE(defaults.contains("D"));
    EXPECT_TRUE(defaults.contains("C"));
    // Arguments never reach the file; removing the file's value uncovers the registered one.
    EXPECT_EQ(defaults.persistentDomain().value("A").toString(), "file");
    EXPECT_TRUE(defaults.removeObjectForKey("B"));
    EXPECT_EQ(defaults.stringForKey("B"), "registered");
    // A null value removes, like removeObjectForKey.
    EXPECT_TRUE(defaults.setObject(QVariant(), "A"));
    EXPECT_FALSE(defaults.persistentDomain().contains("A"));
}

// A key given on the command line counts for that run only: what the program writes under it
// changes the run's value and never reaches the file, whatever kind of value it is; a settings
// window writes the file with setStoredObject(); forgetting the run's values uncovers the file's.
TEST(UserDefaultsTest, CommandLineKeysAreNeverSaved)
{
    struct Case {
        const char *name;
        QString key;
        QVariant written;
    };
    const Case cases[] = {
        {"string", "DBHost", QStringLiteral("db.example.org")},
        {"position", "WorkflowPanelX", 321.5},
        {"number", "ThumbnailSize", qint64(200)},
        {"array", "RecentSearches", QVariantList{"a", "b"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("preferences.plist"));
        {
            UserDefaults saved(path);
            ASSERT_TRUE(saved.setString(QStringLiteral("stored"), c.key));
        }
        UserDefaults run(path);
        run.setArguments({"ostrevan", "-" + c.key, "given"});
        EXPECT_TRUE(run.setObject(c.written, c.key));
        EXPECT_EQ(run.objectForKey(c.key), c.written);
        EXPECT_EQ(UserDefaults(path).objectForKey(c.key).toString(), "stored");

        // What a settings window saves goes to the file; the run keeps its own value.
        EXPECT_TRUE(run.setStoredObject(QStringLiteral("chosen"), c.key));
        EXPECT_EQ(run.objectForKey(c.key), c.written);
        EXPECT_EQ(run.storedStringForKey(c.key), "chosen");
        EXPECT_EQ(UserDefaults(path).stringForKey(c.key), "chosen");

        run.forgetArguments({c.key, QStringLiteral("NotGiven")});
        EXPECT_FALSE(run.argumentDomain().contains(c.key));
        EXPECT_EQ(run.stringForKey(c.key), "chosen");
        // From now on the key is the file's again.
        EXPECT_TRUE(run.setObject(c.written, c.key));
        EXPECT_EQ(UserDefaults(path).objectForKey(c.key), c.written);
    }
    // What the file could not carry is refused for the run as well.
    UserDefaults run;
    run.setArguments({"ostrevan", "-Place", "given"});
    EXPECT_FALSE(run.setObject(QPoint(1, 2), "Place"));
    EXPECT_EQ(run.stringForKey("Place"), "given");
}

TEST(UserDefaultsTest, LaterRegistrationWinsAndMerges)
{
    UserDefaults defaults;
    defaults.registerDefaults({{"ThumbnailSize", 128}, {"DBVendor", "Integrated"}});
    defaults.registerDefaults({{"ThumbnailSize", 256}, {"ShowCountOnFilmRolls", "1"}});
    EXPECT_EQ(defaults.integerForKey("ThumbnailSize"), 256);
    EXPECT_EQ(defaults.stringForKey("DBVendor"), "Integrated");
    EXPECT_TRUE(defaults.boolForKey("ShowCountOnFilmRolls"));
    EXPECT_TRUE(defaults.persistentDomain().isEmpty());
}

TEST(UserDefaultsTest, ArgumentPairs)
{
    const QVariantMap parsed = UserDefaults::argumentsFromCommandLine(
        {"/usr/bin/ostrevan", "stray", "-DBVendor", "Integrated", "-Offset", "-5", "-Scale", "-0.5", "-NoValue",
         "-Port", "5432", "-Empty", "", "--Odd", "x", "-", "y", "-Last"});
    const QVariantMap expected{{"DBVendor", "Integrated"}, {"Offset", "-5"}, {"Scale", "-0.5"},
                               {"Port", "5432"},           {"Empty", ""},    {"-Odd", "x"}};
    EXPECT_EQ(parsed, expected);

    // The first word is the program, even when it looks like a key.
    EXPECT_TRUE(UserDefaults::argumentsFromCommandLine({"-A", "b"}).isEmpty());
    EXPECT_TRUE(UserDefaults::argumentsFromCommandLine({}).isEmpty());

    UserDefaults defaults;
    defaults.setArguments({"ostrevan", "-ThumbnailSize", "300"});
    EXPECT_EQ(defaults.integerForKey("ThumbnailSize"), 300);
    EXPECT_EQ(defaults.objectForKey("ThumbnailSize").typeId(), QMetaType::QString);
    defaults.setArguments({"ostrevan"});
    EXPECT_FALSE(defaults.contains("ThumbnailSize"));
}

TEST(UserDefaultsTest, ArgumentArraysAndDictionaries)
{
    UserDefaults defaults;
    defaults.setArguments(
        {"ostrevan", "-List", "(a, \"b c\")", "-Map", " { Key = Value; } ", "-Broken", "(a, ", "-Word", "plain"});
    EXPECT_EQ(defaults.arrayForKey("List"), (QVariantList{"a", "b c"}));
    EXPECT_EQ(defaults.dictionaryForKey("Map"), (QVariantMap{{"Key", "Value"}}));
    EXPECT_EQ(defaults.objectForKey("Broken"), QVariant(QStringLiteral("(a, ")));
    EXPECT_EQ(defaults.objectForKey("Word"), QVariant(QStringLiteral("plain")));
}

TEST(UserDefaultsTest, TypedReadsOnlyOfTheirType)
{
    UserDefaults defaults;
    defaults.registerDefaults({{"FileTypeMapping", QVariantMap{{"jpg", "image"}}},
                               {"Text", "a,b"},
                               {"List", QVariantList{1, 2}},
                               {"Blob", QByteArray("\x01\x02", 2)},
                               {"When", QDateTime::fromSecsSinceEpoch(0, Qt::UTC)}});
    EXPECT_TRUE(defaults.arrayForKey("FileTypeMapping").isEmpty());
    EXPECT_TRUE(defaults.arrayForKey("Text").isEmpty());
    EXPECT_EQ(defaults.arrayForKey("List").size(), 2);
    EXPECT_TRUE(defaults.dictionaryForKey("List").isEmpty());
    EXPECT_TRUE(defaults.dictionaryForKey("Text").isEmpty());
    EXPECT_EQ(defaults.dictionaryForKey("FileTypeMapping").value("jpg").toString(), "image");
    EXPECT_TRUE(defaults.dataForKey("Text").isEmpty());
    EXPECT_EQ(defaults.dataForKey("Blob"), QByteArray("\x01\x02", 2));
    EXPECT_EQ(defaults.stringForKey("List"), "");
    EXPECT_EQ(defaults.stringForKey("Blob"), "");
    EXPECT_EQ(defaults.stringForKey("When"), "");
    EXPECT_EQ(defaults.stringForKey("Missing"), "");
    EXPECT_EQ(defaults.integerForKey("Missing"), 0);
    EXPECT_FALSE(defaults.boolForKey("Missing"));
}

TEST(UserDefaultsTest, BoolCoercion)
{
    const struct {
        QVariant value;
        bool expected;
    } cases[] = {
        {true, true},
        {false, false},
        {1, true},
        {0, false},
        {qint64(-3), true},
        {0.5, true},
        {0.0, false},
        {"YES", true},
        {"yes", true},
        {"Y", true},
        {"true", true},
        {"T", true},
        {"1", true},
        {"  1", true},
        {"\t\nyes", true},
        {"+7", true},
        {"-1", true},
        {"007", true},
        {"12abc", true},
        {"NO", false},
        {"no", false},
        {"0", false},
        {"", false},
        {"false", false},
        {"000", false},
        {"0.5", false},
        {"-0", false},
        {"abc", false},
        {" ", false},
        {"+", false},
        {QByteArray("1"), false},
        {QVariantList{1}, false},
        {QVariant(), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UserDefaults::boolFromVariant(c.value), c.expected)
            << qPrintable(c.value.toString()) << " " << c.value.typeName();
}

TEST(UserDefaultsTest, IntegerCoercion)
{
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    constexpr qint64 min = std::numeric_limits<qint64>::min();
    const struct {
        QVariant value;
        qint64 expected;
    } cases[] = {
        {"12abc", 12},
        {"abc", 0},
        {" -7x", -7},
        {"+42", 42},
        {"  0012", 12},
        {"1.9", 1},
        {"-", 0},
        {"", 0},
        {"9223372036854775807", max},
        {"9223372036854775808", max},
        {"99999999999999999999999", max},
        {"-9223372036854775808", min},
        {"-99999999999999999999999", min},
        {3.9, 3},
        {-3.9, -3},
        {1e300, max},
        {-1e300, min},
        {std::nan(""), 0},
        {true, 1},
        {false, 0},
        {int(-5), -5},
        {qint64(1) << 40, qint64(1) << 40},
        {std::numeric_limits<quint64>::max(), max},
        {QByteArray("12"), 0},
        {QVariantList{1}, 0},
        {QVariant(), 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UserDefaults::integerFromVariant(c.value), c.expected)
            << qPrintable(c.value.toString()) << " " << c.value.typeName();
}

TEST(UserDefaultsTest, DoubleCoercion)
{
    const struct {
        QVariant value;
        double expected;
    } cases[] = {
        {"0.8800", 0.88},
        {"1e3", 1000.0},
        {"3.5kg", 3.5},
        {"abc", 0.0},
        {" -2.5", -2.5},
        {"+.5", 0.5},
        {"5.", 5.0},
        {".", 0.0},
        {"1e", 1.0},
        {"1e+", 1.0},
        {"2E-2x", 0.02},
        {"1,5", 1.0},
        {"", 0.0},
        {"-", 0.0},
        {"0x10", 0.0},
        {"1e400", std::numeric_limits<double>::infinity()},
        {"-1e400", -std::numeric_limits<double>::infinity()},
        {"1e-400", 0.0},
        {0.25, 0.25},
        {7, 7.0},
        {true, 1.0},
        {QByteArray("1"), 0.0},
        {QVariant(), 0.0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UserDefaults::doubleFromVariant(c.value), c.expected)
            << qPrintable(c.value.toString()) << " " << c.value.typeName();
}

TEST(UserDefaultsTest, StringCoercion)
{
    const struct {
        QVariant value;
        QString expected;
    } cases[] = {
        {"text", "text"},
        {"", ""},
        {42, "42"},
        {qint64(-9000000000), "-9000000000"},
        {std::numeric_limits<quint64>::max(), "18446744073709551615"},
        {0.88, "0.88"},
        {0.1f, "0.1"},
        {3.0, "3"},
        {-0.5, "-0.5"},
        {1e20, "1e+20"},
        {true, "1"},
        {false, "0"},
        {QVariantList{"a"}, ""},
        {QVariantMap{{"a", "b"}}, ""},
        {QByteArray("abc"), ""},
        {QDateTime::currentDateTimeUtc(), ""},
        {QVariant(), ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(UserDefaults::stringFromVariant(c.value), c.expected)
            << qPrintable(c.value.toString()) << " " << c.value.typeName();
}

TEST(UserDefaultsTest, NothingDependsOnTheLocale)
{
    const std::string oldCLocale = std::setlocale(LC_ALL, nullptr);
    const QLocale oldQLocale;
    // The German C locale may not be installed; the Qt locale is set in any case.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("preferences.plist"));
    {
        UserDefaults defaults(path);
        defaults.registerDefaults({{"Quality", "0.8800"}});
        EXPECT_EQ(defaults.doubleForKey("Quality"), 0.88);
        EXPECT_TRUE(defaults.setDouble(1234.5, "Ratio"));
        EXPECT_EQ(defaults.stringForKey("Ratio"), "1234.5");
        EXPECT_EQ(UserDefaults::stringFromVariant(0.88), "0.88");
        EXPECT_EQ(UserDefaults::doubleFromVariant(QStringLiteral("1234.5")), 1234.5);
    }
    EXPECT_TRUE(readFile(path).contains("1234.5"));
    UserDefaults reread(path);
    EXPECT_EQ(reread.doubleForKey("Ratio"), 1234.5);

    QLocale::setDefault(oldQLocale);
    std::setlocale(LC_ALL, oldCLocale.c_str());
}

TEST(UserDefaultsTest, DefaultFilePathFollowsXdg)
{
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/somewhere/config/");
    EXPECT_EQ(UserDefaults::defaultFilePath(), "/somewhere/config/ostrevan/preferences.plist");
    const QString fallback = QDir::homePath() + "/.config/ostrevan/preferences.plist";
    qputenv("XDG_CONFIG_HOME", "relative/config");
    EXPECT_EQ(UserDefaults::defaultFilePath(), fallback);
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(UserDefaults::defaultFilePath(), fallback);
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(UserDefaults::defaultFilePath(), fallback);
    qputenv("XDG_CONFIG_HOME", old);
}

TEST_F(UserDefaultsFileTest, PersistsAcrossInstances)
{
    {
        UserDefaults first(m_path);
        EXPECT_TRUE(first.loadProblem().isEmpty());
        EXPECT_TRUE(first.setString("secret \"pw\" <&> é", "DBPassword"));
        EXPECT_TRUE(first.setInteger(512, "ThumbnailSize"));
        EXPECT_TRUE(first.setBool(true, "Flag"));
        EXPECT_TRUE(first.setObject(QStringList{"a", "b"}, "Recent"));
        EXPECT_TRUE(first.setObject(QVariantMap{{"jpg", QVariantList{"image", 1}}}, "FileTypeMapping"));
        EXPECT_TRUE(first.setObject(QByteArray("\0\xff", 2), "Blob"));
        EXPECT_TRUE(first.setDouble(0.1, "Ratio"));
        EXPECT_TRUE(first.setObject(std::numeric_limits<quint64>::max(), "Big"));
        EXPECT_TRUE(first.setObject("gone", "Removed"));
        EXPECT_TRUE(first.removeObjectForKey("Removed"));
    }
    UserDefaults second(m_path);
    EXPECT_TRUE(second.loadProblem().isEmpty()) << qPrintable(second.loadProblem());
    EXPECT_EQ(second.stringForKey("DBPassword"), "secret \"pw\" <&> é");
    EXPECT_EQ(second.integerForKey("ThumbnailSize"), 512);
    EXPECT_TRUE(second.boolForKey("Flag"));
    EXPECT_EQ(second.arrayForKey("Recent"), (QVariantList{"a", "b"}));
    EXPECT_EQ(second.dictionaryForKey("FileTypeMapping").value("jpg").toList().value(0).toString(), "image");
    EXPECT_EQ(second.dataForKey("Blob"), QByteArray("\0\xff", 2));
    EXPECT_EQ(second.doubleForKey("Ratio"), 0.1);
    EXPECT_EQ(second.stringForKey("Big"), "18446744073709551615");
    EXPECT_FALSE(second.contains("Removed"));
}

TEST_F(UserDefaultsFileTest, PrivateFileInANewPrivateFolder)
{
    const QString nested = m_dir.filePath(QStringLiteral("config/ostrevan/preferences.plist"));
    UserDefaults defaults(nested);
    EXPECT_TRUE(defaults.setString("pw", "DBPassword"));
    EXPECT_EQ(modeOf(nested), mode_t(0600));
    EXPECT_EQ(modeOf(m_dir.filePath("config/ostrevan")), mode_t(0700));
    EXPECT_EQ(modeOf(m_dir.filePath("config")), mode_t(0700));

    // A file that was readable by others becomes private at the next save.
    ASSERT_EQ(::chmod(QFile::encodeName(nested).constData(), 0644), 0);
    EXPECT_TRUE(defaults.setString("pw2", "DBPassword"));
    EXPECT_EQ(modeOf(nested), mode_t(0600));
    EXPECT_FALSE(QFileInfo::exists(nested + ".corrupt"));
}

TEST_F(UserDefaultsFileTest, RefusesWhatAPropertyListCannotCarry)
{
    UserDefaults defaults(m_path);
    ASSERT_TRUE(defaults.setString("kept", "Key"));
    const QByteArray before = readFile(m_path);
    EXPECT_FALSE(defaults.setObject(QPoint(1, 2), "Key"));
    EXPECT_FALSE(defaults.setObject(QVariantList{1, QPoint(1, 2)}, "Key"));
    EXPECT_FALSE(defaults.setObject(QVariantMap{{"a", QVariant()}}, "Key"));
    EXPECT_FALSE(defaults.setObject(QDateTime(), "Key"));
    // XML cannot carry this character; accepted, it would stop every later save.
    EXPECT_FALSE(defaults.setString(QStringLiteral("bell\x07"), "Key"));
    EXPECT_FALSE(defaults.setString("ok", QStringLiteral("Key\x01")));
    EXPECT_EQ(defaults.stringForKey("Key"), "kept");
    EXPECT_EQ(readFile(m_path), before);
    EXPECT_TRUE(defaults.setString("next", "Other"));

    // As deep as the reader takes, counting the file's own dictionary; one more level is refused.
    QVariant deep = QVariantList{};
    for (int level = 2; level < PropertyList::maximumDepth; ++level)
        deep = QVariantList{deep};
    EXPECT_TRUE(defaults.setObject(deep, "Deep"));
    EXPECT_FALSE(defaults.setObject(QVariantList{deep}, "Deeper"));
    EXPECT_FALSE(defaults.contains("Deeper"));
    UserDefaults reread(m_path);
    EXPECT_TRUE(reread.loadProblem().isEmpty()) << qPrintable(reread.loadProblem());
    EXPECT_TRUE(reread.contains("Deep"));
}

TEST_F(UserDefaultsFileTest, CorruptFileKeptAside)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    ASSERT_TRUE(writeFile(m_path + ".corrupt", "an older broken copy"));
    const QByteArray garbage = "<?xml version=\"1.0\"?><plist><dict><key>A</key>";
    ASSERT_TRUE(writeFile(m_path, garbage));

    UserDefaults defaults(m_path);
    const QString problem = defaults.loadProblem();
    EXPECT_TRUE(problem.contains(m_path)) << qPrintable(problem);
    EXPECT_TRUE(problem.contains(m_path + ".corrupt")) << qPrintable(problem);
    EXPECT_EQ(readFile(m_path + ".corrupt"), garbage);
    EXPECT_FALSE(QFileInfo::exists(m_path));
    EXPECT_TRUE(defaults.persistentDomain().isEmpty());

    defaults.registerDefaults({{"DBVendor", "Integrated"}});
    EXPECT_EQ(defaults.stringForKey("DBVendor"), "Integrated");
    EXPECT_TRUE(defaults.setString("value", "Key"));
    EXPECT_EQ(fileContents(m_path), (QVariantMap{{"Key", "value"}}));
    EXPECT_TRUE(UserDefaults(m_path).loadProblem().isEmpty());
}

TEST_F(UserDefaultsFileTest, RootThatIsNotADictionaryIsCorrupt)
{
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    const QByteArray array = PropertyList::writeXml(QVariantList{"a"});
    ASSERT_FALSE(array.isEmpty());
    ASSERT_TRUE(writeFile(m_path, array));
    UserDefaults defaults(m_path);
    EXPECT_FALSE(defaults.loadProblem().isEmpty());
    EXPECT_EQ(readFile(m_path + ".corrupt"), array);
    EXPECT_TRUE(defaults.persistentDomain().isEmpty());
}

TEST_F(UserDefaultsFileTest, UnreadableFileIsNeverOverwritten)
{
    if (runningAsRoot())
        GTEST_SKIP() << "root reads any file";
    ASSERT_TRUE(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    const QByteArray good = PropertyList::writeXml(QVariantMap{{"DBPassword", "precious"}});
    ASSERT_TRUE(writeFile(m_path, good));
    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0), 0);

    UserDefaults defaults(m_path);
    EXPECT_TRUE(defaults.loadProblem().contains(m_path)) << qPrintable(defaults.loadProblem());
    EXPECT_FALSE(defaults.setString("new", "DBPassword"));
    EXPECT_EQ(defaults.stringForKey("DBPassword"), "new"); // kept for this run
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_FALSE(QFileInfo::exists(m_path + ".corrupt"));

    ASSERT_EQ(::chmod(QFile::encodeName(m_path).constData(), 0600), 0);
    EXPECT_EQ(readFile(m_path), good);
}

TEST_F(UserDefaultsFileTest, PathThatCannotBeOpenedIsLeftAlone)
{
    // A folder where the file should be cannot be opened either, even by root.
    ASSERT_TRUE(QDir().mkpath(m_path));
    UserDefaults defaults(m_path);
    EXPECT_FALSE(defaults.loadProblem().isEmpty());
    EXPECT_FALSE(defaults.setString("v", "Key"));
    EXPECT_EQ(defaults.stringForKey("Key"), "v");
    EXPECT_TRUE(QFileInfo(m_path).isDir());
    EXPECT_FALSE(QFileInfo::exists(m_path + ".corrupt"));
}

TEST_F(UserDefaultsFileTest, FailedSaveIsRetriedBySynchronize)
{
    // The folder's place is taken by a plain file, so the folder cannot be made.
    const QString folder = QFileInfo(m_path).absolutePath();
    ASSERT_TRUE(writeFile(folder, "in the way"));
    UserDefaults defaults(m_path);
    EXPECT_TRUE(defaults.loadProblem().isEmpty());
    EXPECT_FALSE(defaults.setString("value", "Key"));
    EXPECT_EQ(defaults.stringForKey("Key"), "value");
    EXPECT_FALSE(defaults.synchronize());

    ASSERT_TRUE(QFile::remove(folder));
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(m_path), (QVariantMap{{"Key", "value"}}));
    EXPECT_TRUE(defaults.synchronize());
}

TEST_F(UserDefaultsFileTest, ReadOnlyFolderThenWritable)
{
    if (runningAsRoot())
        GTEST_SKIP() << "root writes into read-only folders";
    const QString folder = QFileInfo(m_path).absolutePath();
    UserDefaults defaults(m_path);
    ASSERT_TRUE(defaults.setString("first", "A"));
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0500), 0);
    EXPECT_FALSE(defaults.setString("second", "B"));
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(fileContents(m_path), (QVariantMap{{"A", "first"}}));

    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0700), 0);
    EXPECT_TRUE(defaults.synchronize());
    EXPECT_EQ(fileContents(m_path), (QVariantMap{{"A", "first"}, {"B", "second"}}));
}

TEST_F(UserDefaultsFileTest, ConcurrentReadersAndWriters)
{
    UserDefaults defaults(m_path);
    defaults.registerDefaults({{"Registered", "yes"}, {"Shared", "0"}});
    constexpr int writers = 4;
    constexpr int writes = 25;
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};

    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!done.load()) {
                if (!defaults.boolForKey("Registered"))
                    ++badReads;
                const qint64 shared = defaults.integerForKey("Shared");
                if (shared < 0 || shared >= writers * writes)
                    ++badReads;
                (void)defaults.persistentDomain().size();
            }
        });
    }
    std::vector<std::thread> writing;
    for (int w = 0; w < writers; ++w) {
        writing.emplace_back([&, w] {
            for (int i = 0; i < writes; ++i) {
                const QString value = QString::number(w * writes + i);
                defaults.setString(value, QStringLiteral("W%1K%2").arg(w).arg(i));
                defaults.setString(value, QStringLiteral("Shared"));
            }
        });
    }
    for (auto &t : writing)
        t.join();
    done = true;
    for (auto &t : readers)
        t.join();

    EXPECT_EQ(badReads.load(), 0);
    const QVariantMap stored = fileContents(m_path);
    EXPECT_EQ(stored.size(), writers * writes + 1);
    EXPECT_EQ(stored, defaults.persistentDomain());
    for (int w = 0; w < writers; ++w)
        for (int i = 0; i < writes; ++i)
            EXPECT_EQ(defaults.integerForKey(QStringLiteral("W%1K%2").arg(w).arg(i)), w * writes + i);
}
