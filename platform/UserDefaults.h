#pragma once

#include <QByteArray>
#include <QReadWriteLock>
#include <QString>
#include <QStringList>
#include <QVariant>

// The user's preferences, in three layers searched in order: the argument domain ("-Key Value"
// pairs from the command line), the user's own file, and the registered defaults. Every read and
// write is thread-safe.
//
// The file is an XML property list at $XDG_CONFIG_HOME/ostrevan/preferences.plist, mode 0600 (it
// holds passwords), replaced atomically on every write. A file that cannot be parsed is moved aside
// as "preferences.plist.corrupt" and the program goes on with the defaults; loadProblem() then says
// what happened so that the application can tell the user. A file that cannot be opened (its
// permissions) is left alone and never overwritten, since it may still hold good settings: changes
// then live in memory only and writes answer false.
//
// Typed reads coerce as the settings code expects: a string "1", "YES" or "yes" is true and "0" or
// "NO" false, a string's integer value comes from its leading digits ("12abc" is 12, "abc" is 0),
// numbers read as strings give their locale-free text. Nothing here depends on the C or Qt locale.
class UserDefaults
{
public:
    // Uses the given file; an empty path keeps the settings in memory only (tests).
    explicit UserDefaults(const QString &filePath = QString());
    ~UserDefaults();

    UserDefaults(const UserDefaults &) = delete;
    UserDefaults &operator=(const UserDefaults &) = delete;

    // The program's own settings, at defaultFilePath().
    static UserDefaults &standard();
    // $XDG_CONFIG_HOME/ostrevan/preferences.plist (~/.config when XDG_CONFIG_HOME is unset).
    static QString defaultFilePath();

    QString filePath() const;
    // Empty when the file loaded, or was absent; otherwise a sentence for the user.
    QString loadProblem() const;

    // Adds to the registered defaults; a key registered again takes the new value.
    void registerDefaults(const QVariantMap &defaults);
    // Reads "-Key Value" pairs (program name first, as in argv). A value that parses as an old-style
    // property-list array or dictionary is stored as one; anything else stays a string. Words that
    // are not such a pair are ignored.
    void setArguments(const QStringList &arguments);
    // The pairs setArguments() takes from the command line. A key is "-" and a name; a word after
    // a key is its value unless it is itself a key ("-5" and "-0.5" are values).
    static QVariantMap argumentsFromCommandLine(const QStringList &arguments);

    QVariant objectForKey(const QString &key) const;
    QString stringForKey(const QString &key) const; // "" when missing or not text-like
    bool boolForKey(const QString &key) const;
    qint64 integerForKey(const QString &key) const;
    double doubleForKey(const QString &key) const;
    QVariantList arrayForKey(const QString &key) const;     // empty unless an array
    QVariantMap dictionaryForKey(const QString &key) const; // empty unless a dictionary
    QByteArray dataForKey(const QString &key) const;        // empty unless data
    // True when some layer holds the key.
    bool contains(const QString &key) const;
    // The value without the command line's: the user's file, then the registered defaults. What a
    // settings window shows and saves back, so that a "-Key Value" given for one run is never
    // stored by it. Invalid when neither layer holds the key.
    QVariant storedObjectForKey(const QString &key) const;
    QString storedStringForKey(const QString &key) const { return stringFromVariant(storedObjectForKey(key)); }
    // The user's file layer alone.
    QVariantMap persistentDomain() const;
    // The command line's pairs alone (never saved).
    QVariantMap argumentDomain() const;
    // The registered defaults alone.
    QVariantMap registeredDomain() const;

    // Writes go to the user's file layer and are saved at once. They answer false (and keep the
    // value in memory) when the file could not be written. A value a property list cannot carry
    // (a QPoint, a string with control characters) is refused with false and changes nothing; an
    // invalid or null QVariant removes the key.
    //
    // A key given on the command line counts for that run only and is never saved: writing it
    // changes this run's value and leaves the file as it is (removing acts on the file alone). A
    // settings window that shows and saves the stored values writes with setStoredObject().
    bool setObject(const QVariant &value, const QString &key);
    // Writes the user's file layer whatever the command line gave; the run keeps the command
    // line's value for the key until forgetArguments().
    bool setStoredObject(const QVariant &value, const QString &key);
    // Drops the command line's values of these keys for the rest of the run: the file's count.
    void forgetArguments(const QStringList &keys);
    bool setString(const QString &value, const QString &key) { return setObject(value, key); }
    bool setBool(bool value, const QString &key) { return setObject(value, key); }
    bool setInteger(qint64 value, const QString &key) { return setObject(value, key); }
    bool setDouble(double value, const QString &key) { return setObject(value, key); }
    bool removeObjectForKey(const QString &key);
    // Saves the file layer when a previous save failed; true when the file is current.
    bool synchronize();

    // Coercions shared with other readers of string-valued settings and records.
    static bool boolFromVariant(const QVariant &value);
    static qint64 integerFromVariant(const QVariant &value);
    static double doubleFromVariant(const QVariant &value);
    static QString stringFromVariant(const QVariant &value);

private:
    void load();
    bool saveLocked();
    QVariant lookupLocked(const QString &key) const;

    mutable QReadWriteLock m_lock;
    QString m_filePath;
    QString m_loadProblem;
    QVariantMap m_arguments;
    QVariantMap m_persistent;
    QVariantMap m_registered;
    bool m_dirty = false;       // the file layer has changes the file does not hold yet
    bool m_saveBlocked = false; // the file exists but could not be read: never replace it
};
