#pragma once

// What the destination walk and the reading walk share (FileAccess_destination.cpp,
// FileAccess_reading.cpp): a descriptor that closes itself, and the walk of a path from the root
// one element at a time through folder descriptors, each link judged by one rule.

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace FileAccess::Walking {

// A descriptor that closes itself.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : m_fd(fd) {}
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        if (this != &other) {
            reset();
            m_fd = std::exchange(other.m_fd, -1);
        }
        return *this;
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor() { reset(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }
    void reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

// Whether a link that `link` describes, in the folder that `holder` describes, may be followed: it
// belongs to this account, or to the folder's owner when nobody else may write in the folder.
bool linkMayBeFollowed(const struct stat &link, const struct stat &holder);

// Which links a walk follows: those linkMayBeFollowed allows (a file's destination), or of those
// only this account's and root's (reading what the user named; the folders a gallery is made in).
enum class Links { FolderOwners, OwnOrRoot };

// A path walked to its last element: the folder that holds it (open as a path), its name there,
// and the path of both as they were walked (links replaced by what they lead to).
struct Place {
    Descriptor folder;
    QByteArray name;
    QString folderPath;
    QString path() const;
};

// Why a walk stopped short.
enum class Refusal { None, ForeignLink, Missing, Denied, Other };

// Walks `path` from the root one element at a time, each folder opened through the one before it
// without following links (nothing can be swapped in between), and each link met, at any element,
// judged by linkMayBeFollowed before its target takes its place. With `makeFolders` the folders
// that are not there are made, the last element included; otherwise the last element need not be
// there. `refusal`, when given, says what stopped it. A link of a folder's owner in his own folder
// may lead a file written there wherever he likes, which is no more than writing into his folder;
// but it would lead an import to this account's private files, for every member of the catalog to
// see, or a folder made there, and everything written into it, into this account's private folder.
std::optional<Place> walk(const QString &path, bool makeFolders, QString *why, Refusal *refusal = nullptr,
                          Links links = Links::FolderOwners);

} // namespace FileAccess::Walking
