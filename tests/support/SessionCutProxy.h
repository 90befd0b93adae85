// Stands between clients and the test PostgreSQL server on 127.0.0.1, and ends a client's session
// at a chosen statement: when a message of the client holds a text, the nth time such a message
// passes. The session ends either as a lost network ends it (the connection closes before the
// server sees the message) or as the server's administrator ends it (pg_terminate_backend, through
// the `terminate` callback, before the message reaches the server: the client reads the server's
// FATAL message and then the end of the connection). While the proxy is down, connections are
// refused as by a server that is not running.
//
// A session can also end as a lost answer ends it (AnswerLost): the message reaches the server, and
// the connection closes before its answer comes back, so that a COMMIT is carried out while the
// client never hears of it. cutEvery() ends every session so at random moments, and goDown() /
// comeBack() take the whole server away for a while (sessions ended, new ones closed at once).
// endEachAtStatement() lets every session in and ends it a few statements later, and hold() makes
// the network go silent.
#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <mutex>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class SessionCutProxy
{
public:
    // Down: the whole server goes away there (as goDown()). AnswerLostThenDown: the message
    // reaches the server, then the whole server goes away before its answer comes back.
    enum class How { Dropped, Terminated, AnswerLost, Down, AnswerLostThenDown };
    // Ends the server session whose client end is at `clientPort` (pg_stat_activity.client_port).
    using Terminate = std::function<void(int clientPort)>;

    SessionCutProxy(int serverPort, Terminate terminate, bool up = true)
        : m_serverPort(serverPort),
          m_terminate(std::move(terminate))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        const int yes = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
        m_port = ntohs(address.sin_port);
        // Bound but not listening: a connection is refused at once, as where no server runs.
        if (up)
            comeUp();
    }
    ~SessionCutProxy()
    {
        m_done = true;
        if (m_cutter.joinable())
            m_cutter.join();
        if (m_acceptor.joinable())
            m_acceptor.join();
        // Joined without the lock: a relay may be asking decide() for it as it ends.
        std::vector<std::thread> relays;
        {
            std::lock_guard lock(m_mutex);
            relays.swap(m_relays);
        }
        for (std::thread &relay : relays)
            relay.join();
        ::close(m_listener);
    }
    SessionCutProxy(const SessionCutProxy &) = delete;
    SessionCutProxy &operator=(const SessionCutProxy &) = delete;

    // Starts taking connections.
    void comeUp()
    {
        if (m_acceptor.joinable())
            return;
        ::listen(m_listener, 64);
        m_acceptor = std::thread([this] { accept(); });
    }
    int port() const { return m_port; }
    // The session ends the `nth` time (from 1) a message holding `text` passes, and then each of
    // the next `times - 1` times one does.
    void cutAt(QByteArray text, int nth, How how, int times = 1)
    {
        std::lock_guard lock(m_mutex);
        m_text = std::move(text);
        m_left = nth;
        m_how = how;
        m_times = times;
    }
    // Every message holding `text` ends its session, however often it is sent again.
    void cutEach(QByteArray text, How how)
    {
        std::lock_guard lock(m_mutex);
        m_text = std::move(text);
        m_left = 1;
        m_how = how;
        m_each = true;
    }
    int cuts() const { return m_cuts.load(); }
    // How many times a client has sent the server something: a client that waits for each answer
    // before it sends on makes one round trip each.
    int messages() const { return m_messages.load(); }
    // From now on, every `minMs` to `maxMs` milliseconds, each open session passes its next message
    // to the server and then ends before the answer (a session that sends nothing within 20 ms
    // ends as it is).
    void cutEvery(int minMs, int maxMs, unsigned seed = 67)
    {
        m_cutter = std::thread([this, minMs, maxMs, seed] {
            unsigned state = seed;
            while (!m_done) {
                state = state * 1103515245u + 12345u;
                const int pause = minMs + int((state >> 8) % unsigned(std::max(1, maxMs - minMs + 1)));
                for (int waited = 0; waited < pause && !m_done; waited += 5)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                ++m_generation;
            }
        });
    }
    // The server goes away: every session ends and new connections are closed at once, until
    // comeBack().
    void goDown()
    {
        m_down = true;
        ++m_generation;
    }
    void comeBack() { m_down = false; }
    // Goes down now and comes back after `time`, on a thread of its own: the caller joins it.
    std::thread awayFor(std::chrono::milliseconds time)
    {
        goDown();
        return std::thread([this, time] {
            std::this_thread::sleep_for(time);
            comeBack();
        });
    }
    // Each message of a client reaches the server `ms` later, as over a network whose round trip
    // takes that much longer.
    void delayEach(int ms) { m_delayMs = ms; }
    // From now on every session ends (as a lost network ends it) at its `nth` statement: the
    // sessions before it answer, and each new one is let in and answers as many.
    void endEachAtStatement(int nth) { m_endAtStatement = nth; }
    // While held, nothing passes either way and nothing is closed, as over a network that went
    // silent; new connections are taken and held too.
    void hold() { m_held = true; }
    void release() { m_held = false; }
    // The connections to the server made so far.
    int sessions() const { return m_sessions.load(); }
    bool isDown() const { return m_down.load(); }

private:
    void accept()
    {
        while (!m_done) {
            pollfd incoming{m_listener, POLLIN, 0};
            if (::poll(&incoming, 1, 50) <= 0)
                continue;
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                continue;
            if (m_down) {
                ::close(client);
                continue;
            }
            const int server = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(quint16(m_serverPort));
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(server, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
                ::close(client);
                ::close(server);
                continue;
            }
            ++m_sessions;
            sockaddr_in own{};
            socklen_t length = sizeof own;
            ::getsockname(server, reinterpret_cast<sockaddr *>(&own), &length);
            std::lock_guard lock(m_mutex);
            m_relays.emplace_back(
                [this, client, server, port = int(ntohs(own.sin_port))] { relay(client, server, port); });
        }
    }

    // Whether this message ends the session, and how.
    bool decide(QByteArrayView bytes, How *how)
    {
        std::lock_guard lock(m_mutex);
        if (m_left <= 0 || m_text.isEmpty() || !bytes.contains(QByteArrayView(m_text)))
            return false;
        if (!m_each && --m_left > 0)
            return false;
        if (--m_times > 0)
            m_left = 1;
        *how = m_how;
        ++m_cuts;
        return true;
    }

    void relay(int client, int server, int serverSidePort)
    {
        QByteArray buffer(1 << 16, Qt::Uninitialized);
        const auto pass = [&](int from, int to) {
            const ssize_t read = ::read(from, buffer.data(), size_t(buffer.size()));
            return read > 0 && ::send(to, buffer.constData(), size_t(read), MSG_NOSIGNAL) == read;
        };
        bool terminated = false;
        int statements = 0;
        int generation = m_generation.load();
        std::optional<std::chrono::steady_clock::time_point> armedAt;
        while (!m_done) {
            if (!armedAt && m_generation.load() != generation) {
                generation = m_generation.load();
                armedAt = std::chrono::steady_clock::now();
            }
            if (m_down || (armedAt && std::chrono::steady_clock::now() - *armedAt > std::chrono::milliseconds(20))) {
                ++m_cuts;
                break;
            }
            if (m_held) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            pollfd ends[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(ends, 2, armedAt ? 5 : 50) < 0)
                break;
            if (ends[1].revents && !pass(server, client))
                break;
            if (!ends[0].revents || terminated)
                continue;
            const ssize_t read = ::read(client, buffer.data(), size_t(buffer.size()));
            if (read <= 0)
                break;
            if (armedAt) {
                // The message reaches the server; its answer does not reach the client.
                ::send(server, buffer.constData(), size_t(read), MSG_NOSIGNAL);
                ++m_cuts;
                break;
            }
            // A statement: a simple query, or the parse that begins an extended one.
            if (const int nth = m_endAtStatement.load();
                nth > 0 && (buffer.at(0) == 'Q' || buffer.at(0) == 'P') && ++statements >= nth) {
                ++m_cuts;
                break;
            }
            How how = How::Dropped;
            if (decide(QByteArrayView(buffer.constData(), read), &how)) {
                if (how == How::Dropped)
                    break;
                if (how == How::Down) {
                    goDown();
                    break;
                }
                if (how == How::AnswerLost || how == How::AnswerLostThenDown) {
                    ::send(server, buffer.constData(), size_t(read), MSG_NOSIGNAL);
                    if (how == How::AnswerLostThenDown)
                        goDown();
                    break;
                }
                // The server's FATAL message and the connection's end reach the client; the
                // statement never reaches the server.
                m_terminate(serverSidePort);
                terminated = true;
                continue;
            }
            ++m_messages;
            if (const int delay = m_delayMs.load(); delay > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            if (::send(server, buffer.constData(), size_t(read), MSG_NOSIGNAL) != read)
                break;
        }
        ::close(client);
        ::close(server);
    }

    int m_serverPort;
    Terminate m_terminate;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_done{false};
    std::atomic<int> m_cuts{0};
    std::atomic<int> m_messages{0};
    std::mutex m_mutex;
    QByteArray m_text;
    int m_left = 0;
    int m_times = 1;
    How m_how = How::Dropped;
    bool m_each = false;
    std::thread m_acceptor;
    std::thread m_cutter;
    std::atomic<int> m_generation{0};
    std::atomic<bool> m_down{false};
    std::atomic<int> m_delayMs{0};
    std::atomic<int> m_endAtStatement{0};
    std::atomic<bool> m_held{false};
    std::atomic<int> m_sessions{0};
    std::vector<std::thread> m_relays;
};
