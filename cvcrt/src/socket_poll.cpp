// Readiness checks. SocketPoll keeps the three-set model (read, write, exception;
// at most 64 sockets per set) on top of poll(2), so no descriptor number limit applies.
#include <errno.h>
#include <poll.h>

#include <bit>
#include <vector>

#include "cvcrt/net.h"
#include "guard.h"

namespace {

constexpr short kReadReady = POLLIN | POLLHUP | POLLERR;
constexpr short kWriteReady = POLLOUT | POLLHUP | POLLERR;
constexpr short kExceptional = POLLPRI | POLLERR;

struct SetMembership {
    bool read = false;
    bool write = false;
    bool exception = false;
};

int PollOne(int32_t socket, short events, short ready) {
    pollfd entry{socket, events, 0};
    int result;
    do {
        result = poll(&entry, 1, 0);
    } while (result < 0 && errno == EINTR);
    return result > 0 && (entry.revents & ready) != 0 && (entry.revents & POLLNVAL) == 0 ? 1 : 0;
}

int PollItems(SocketPollItem* items, int count, int milliseconds) {
    std::vector<pollfd> entries(static_cast<size_t>(count));
    std::vector<SetMembership> member(static_cast<size_t>(count));
    int readSet = 0, writeSet = 0, exceptionSet = 0;
    for (int i = 0; i < count; ++i) {
        SetMembership& m = member[static_cast<size_t>(i)];
        if ((items[i].events & SOCKET_EVENT_READABLE) != 0 && readSet < SOCKET_POLL_SET_SIZE) {
            m.read = true;
            ++readSet;
        }
        if ((items[i].events & SOCKET_EVENT_WRITABLE) != 0 && writeSet < SOCKET_POLL_SET_SIZE) {
            m.write = true;
            ++writeSet;
        }
        if (exceptionSet < SOCKET_POLL_SET_SIZE) {
            m.exception = true;
            ++exceptionSet;
        }
        pollfd& entry = entries[static_cast<size_t>(i)];
        entry.fd = (m.read || m.write || m.exception) ? items[i].socket : -1;
        entry.events = static_cast<short>((m.read ? POLLIN : 0) | (m.write ? POLLOUT : 0) |
                                          (m.exception ? POLLPRI : 0));
    }

    int result;
    do {
        result = poll(entries.data(), entries.size(), milliseconds);
    } while (result < 0 && errno == EINTR);
    if (result < 0) return -1;

    int ready = 0;
    for (int i = 0; i < count; ++i) {
        const pollfd& entry = entries[static_cast<size_t>(i)];
        if (entry.fd >= 0 && (entry.revents & POLLNVAL) != 0) {
            // A closed or bogus descriptor fails the whole wait, as a socket set would.
            errno = EBADF;
            return -1;
        }
    }
    for (int i = 0; i < count; ++i) {
        const pollfd& entry = entries[static_cast<size_t>(i)];
        const SetMembership& m = member[static_cast<size_t>(i)];
        uint8_t events = 0;
        if (m.read && (entry.revents & kReadReady) != 0) events |= SOCKET_EVENT_READABLE;
        if (m.write && (entry.revents & kWriteReady) != 0) events |= SOCKET_EVENT_WRITABLE;
        if (m.exception && (entry.revents & kExceptional) != 0) events |= SOCKET_EVENT_ERROR;
        items[i].revents = events;
        ready += std::popcount(events);
    }
    return ready;
}

}  // namespace

int SocketPoll(SocketPollItem* items, int count, int milliseconds) {
    if (count < 0 || (count > 0 && items == nullptr) || milliseconds < 0) {
        errno = EINVAL;
        return -1;
    }
    return cvcrt::NoThrow(-1, [&] { return PollItems(items, count, milliseconds); });
}

int SocketIsReadable(int32_t socket) { return PollOne(socket, POLLIN, kReadReady); }

int SocketIsWritable(int32_t socket) { return PollOne(socket, POLLOUT, kWriteReady); }
