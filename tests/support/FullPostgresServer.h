// A catalog server on 127.0.0.1 whose every connection slot is taken: it answers each new session
// as PostgreSQL does then, with FATAL 53300 "sorry, too many clients already", and closes it. It
// counts the sessions it turned away.
#pragma once

#include <QByteArray>

#include <atomic>
#include <cstdint>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class FullPostgresServer
{
public:
    FullPostgresServer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        ::listen(m_listener, 16);
        m_thread = std::thread([this] { serve(); });
    }
    ~FullPostgresServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    FullPostgresServer(const FullPostgresServer &) = delete;
    FullPostgresServer &operator=(const FullPostgresServer &) = delete;

    int port() const { return m_port; }
    int turnedAway() const { return m_turnedAway.load(); }

private:
    static bool readFully(int socket, char *into, size_t bytes)
    {
        while (bytes > 0) {
            pollfd readable{socket, POLLIN, 0};
            if (::poll(&readable, 1, 5000) <= 0)
                return false;
            const ssize_t got = ::read(socket, into, bytes);
            if (got <= 0)
                return false;
            into += got;
            bytes -= size_t(got);
        }
        return true;
    }

    static std::uint32_t bigEndian(const char *bytes)
    {
        const auto *b = reinterpret_cast<const unsigned char *>(bytes);
        return std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 | std::uint32_t(b[2]) << 8 | b[3];
    }

    // The client's requests for encryption are declined ('N'); its startup message is answered
    // with the error.
    void answer(int client)
    {
        for (;;) {
            char head[8];
            if (!readFully(client, head, sizeof head))
                return;
            const std::uint32_t length = bigEndian(head), code = bigEndian(head + 4);
            constexpr std::uint32_t sslRequest = 80877103, gssRequest = 80877104;
            if (length == 8 && (code == sslRequest || code == gssRequest)) {
                if (::write(client, "N", 1) != 1)
                    return;
                continue;
            }
            QByteArray rest(int(length > 8 ? length - 8 : 0), '\0');
            if (length < 8 || length > 10000 || !readFully(client, rest.data(), size_t(rest.size())))
                return;
            break;
        }
        QByteArray fields;
        fields += QByteArray("SFATAL", 7);
        fields += QByteArray("VFATAL", 7);
        fields += QByteArray("C53300", 7);
        fields += QByteArray("Msorry, too many clients already", 33);
        fields += '\0';
        QByteArray message("E");
        const std::uint32_t length = std::uint32_t(fields.size() + 4);
        message += char(length >> 24);
        message += char(length >> 16);
        message += char(length >> 8);
        message += char(length);
        message += fields;
        if (::write(client, message.constData(), size_t(message.size())) == message.size())
            ++m_turnedAway;
    }

    void serve()
    {
        while (!m_stop) {
            pollfd incoming{m_listener, POLLIN, 0};
            if (::poll(&incoming, 1, 50) <= 0)
                continue;
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            answer(client);
            ::close(client);
        }
    }

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_turnedAway{0};
    std::thread m_thread;
};
