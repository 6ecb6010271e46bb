// Wakes a thread that waits in poll() for its socket: the waiter polls Fd()
// next to the socket, another thread calls Signal().
#pragma once

namespace cvpl_tcpip {

class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // False when no descriptor could be had; Signal() and Drain() then do nothing.
    bool Valid() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    void Signal();
    // Consumes the signals so far, so that the next poll waits again.
    void Drain();

private:
    int fd_ = -1;
};

}  // namespace cvpl_tcpip
