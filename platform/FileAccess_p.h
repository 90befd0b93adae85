#pragma once

// What the destination walk and the reading walk share (FileAccess_destination.cpp,
// FileAccess_reading.cpp): a descriptor that closes itself, and the walk of a path from the root
// one element at a time through folder descriptors, each link judged by one rule.

#include <QByteArray>
#include <QString>

#include <functional>
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

// Whether another account may rename what the folder that `holder` describes holds, and so put
// any link of his own, or one of this account's from elsewhere, under a name in it: a folder of
// another account's but root's (its owner renames in it at will, and may open it to others at any
// time), and one its group or others may write without the sticky bit (a POSIX ACL's named users
// and groups show in the group bits as its mask). The sticky bit keeps an entry to its owner, the
// folder's owner and root.
bool othersMayRenameIn(const struct stat &holder);

// Whether a link that `link` describes, in the folder that `holder` describes, may be followed:
// root's anywhere; this account's only where no other account may rename in the folder. A link's
// owner says who made it, not who put it under that name: in a folder others may rename in, the
// user's own second link renamed over the name he names would lead him wherever it leads.
bool linkMayBeFollowed(const struct stat &link, const struct stat &holder);

// A path walked to its last element: the folder that holds it (open as a path), its name there,
// the path of both as they were walked (links replaced by what they lead to), and the element
// itself as it was judged (open as a path, not followed; invalid when nothing is there).
struct Place {
    Descriptor folder;
    QByteArray name;
    QString folderPath;
    Descriptor element;
    struct stat judged {};
    QString path() const;
};

// Why a walk stopped short.
enum class Refusal { None, ForeignLink, Missing, Denied, Other };

// Walks `path` from the root one element at a time. Each element is opened as a path through the
// folder before it without following a link, and judged by that descriptor: its kind and owner
// are the descriptor's, a link's target is read through it, and a folder is walked on through it.
// What is followed is what was judged, whatever the name names meanwhile. Each link met, at any
// element, is judged by linkMayBeFollowed before its target takes its place. With `makeFolders`
// the folders that are not there are made, the last element included; otherwise the last element
// need not be there. `refusal`, when given, says what stopped it.
std::optional<Place> walk(const QString &path, bool makeFolders, QString *why, Refusal *refusal = nullptr);

// Called with each element's path once it is held and judged, before its link is read or the walk
// goes on through it: what tests put another file under that name with.
void setJudgedHook(std::function<void(const QString &element)> hook);

} // namespace FileAccess::Walking
