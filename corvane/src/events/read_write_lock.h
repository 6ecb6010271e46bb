// A read-write lock that is usable from the moment the library is loaded
// (constant-initialised), with the member names std::shared_lock and
// std::unique_lock expect. Readers may nest on one thread.
#pragma once

#include <pthread.h>

namespace corvane {

class ReadWriteLock {
public:
    constexpr ReadWriteLock() = default;
    ReadWriteLock(const ReadWriteLock&) = delete;
    ReadWriteLock& operator=(const ReadWriteLock&) = delete;

    void lock() { pthread_rwlock_wrlock(&lock_); }
    void unlock() { pthread_rwlock_unlock(&lock_); }
    void lock_shared() { pthread_rwlock_rdlock(&lock_); }
    void unlock_shared() { pthread_rwlock_unlock(&lock_); }

private:
    // The default kind prefers readers, so a reader that logs from inside a
    // log listener never waits behind a queued writer.
    pthread_rwlock_t lock_ = PTHREAD_RWLOCK_INITIALIZER;
};

}  // namespace corvane
