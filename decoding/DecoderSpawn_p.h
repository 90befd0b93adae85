#pragma once

// How the program starts a child that decodes media (ovn-decoder, ovn-pdf-page): in a session of
// its own, without the program's terminal, with the default handling of every signal and none
// blocked, and with an environment cleared to what decoding reads (the locale and time zone,
// the sanitizers' options, the decoders' test switches): no passwords, tokens or paths of the
// user's reach a child that may be taken over by a hostile file.

#include <QByteArray>
#include <QByteArrayList>

#include <signal.h>
#include <spawn.h>

#include <vector>

extern char **environ;

namespace DecoderSpawn {

inline bool isKept(const QByteArray &name)
{
    static const char *const names[] = {"LANG",          "LANGUAGE",     "TZ",          "ASAN_OPTIONS",
                                        "UBSAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS"};
    for (const char *kept : names)
        if (name == kept)
            return true;
    return name.startsWith("LC_") || name.startsWith("OVN_DECODER_TEST_");
}

class Environment
{
public:
    Environment()
    {
        for (char **entry = environ; entry && *entry; ++entry) {
            const QByteArray variable(*entry);
            const qsizetype equals = variable.indexOf('=');
            if (equals > 0 && isKept(variable.left(equals)))
                m_variables << variable;
        }
        // The allocator asks for huge pages for its heap: a decoder's buffers are megabytes of
        // rows, faulted in and walked a fraction as often.
        m_variables << QByteArray("GLIBC_TUNABLES=glibc.malloc.hugetlb=1");
        // Every symbol bound at the start: a decoder that forks a child per file binds them once,
        // not again in each child.
        m_variables << QByteArray("LD_BIND_NOW=1");
        for (QByteArray &variable : m_variables)
            m_pointers.push_back(variable.data());
        m_pointers.push_back(nullptr);
    }
    Environment(const Environment &) = delete;
    Environment &operator=(const Environment &) = delete;
    char **get() { return m_pointers.data(); }

private:
    QByteArrayList m_variables;
    std::vector<char *> m_pointers;
};

class Attributes
{
public:
    Attributes()
    {
        posix_spawnattr_init(&m_attributes);
        sigset_t none;
        sigemptyset(&none);
        sigset_t all;
        sigfillset(&all);
        posix_spawnattr_setsigmask(&m_attributes, &none);
        posix_spawnattr_setsigdefault(&m_attributes, &all);
        posix_spawnattr_setflags(&m_attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~Attributes() { posix_spawnattr_destroy(&m_attributes); }
    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;
    const posix_spawnattr_t *get() const { return &m_attributes; }

private:
    posix_spawnattr_t m_attributes;
};

} // namespace DecoderSpawn
