// The client end of one cv-tcpip connection: the socket to the server, the ten
// tickets that carry calls to it, and the RPC thread. A caller writes its own
// call and, while it waits, reads the answers itself, so that a call costs no
// hand-off between threads; the RPC thread reads only while no caller waits,
// for the signals the server sends on its own. Signals from the server are
// handed to the framework's work queue; RemoteMachine (bridge_machine.h)
// decides what they mean.
#pragma once

#include <corvane.h>
#include <sys/uio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "buffer_pool.h"
#include "wakeup.h"

namespace cvpl_tcpip {

inline constexpr int kTicketCount = 10;

// One call or client signal on its way: owned by the connection, lent to one
// caller at a time.
struct Ticket {
    bool done = false;
    bool isCall = false;  // a call waits for an answer; a signal is done once written
    uint32_t id = 0;
    ByteBuffer packet;    // header and payload; back to the pool once sent and answered
    ByteBuffer response;  // the answer's payload, handed to the caller
    CvError error{};
    // Where an answer of exactly kCommandSize plus these bytes lands: the
    // command record in `response`, the rest straight in the caller's buffers.
    std::vector<iovec> landing;
    bool landed = false;
};

// Bytes written on the wire straight after a packet, from the caller's memory:
// a command's data buffers travel without being copied into the packet.
using Trailer = std::vector<iovec>;

// A submitted command waiting for its completion signal.
struct PendingSubmit {
    CvUID resource;  // CV_UID_NONE for a machine service
    CvUID service;
    CvCommand* command;
    CvCommandCompletion* completion;
    bool accepted;  // the server answered the submit; only then may a completion be owed
};

// A signal read from the server, waiting on the work queue.
struct SignalPacket {
    uint8_t function = 0;
    std::vector<uint8_t> payload;
};

struct WorkItem;

class RpcClient {
public:
    // Receives the signals the RPC thread reads, one work item each, on the
    // framework's work thread; and the submits that can no longer complete
    // because the link went down.
    class SignalSink {
    public:
        virtual void deliver(const SignalPacket& signal) = 0;
        virtual void completeAborted(std::vector<PendingSubmit>& submits, const std::string& reason) = 0;

    protected:
        ~SignalSink() = default;
    };

    // Fails (code 1) when the request payload or the largest answer the caller
    // expects exceeds what a packet may carry. Checked before a packet is built.
    static int CheckPayloadSizes(uint64_t request, uint64_t expectedResponse, CvError* error);

    RpcClient(CvUID machine, InetAddress server, SignalSink& sink);
    ~RpcClient();
    RpcClient(const RpcClient&) = delete;
    RpcClient& operator=(const RpcClient&) = delete;

    // connect, tearDown and the listener changes of RemoteMachine run with
    // lifecycle() held.
    // Opens the socket, shakes hands and starts the RPC thread. `startSignals`
    // are sent at once, in order; if one cannot be sent the link is torn down
    // and its error returned.
    int connect(const std::vector<uint8_t>& startSignals, CvError* error);
    // Stops the thread, waits until every caller has collected its result, and
    // closes the socket. The client can connect again afterwards.
    void tearDown();
    bool isConnected();
    // Waits (polling) until no signal work item of this client is outstanding.
    void waitForSignals();
    // Waits as waitForSignals() does, then runs `change` under mutex() before a
    // new signal can be delivered.
    template <class Change>
    void whenNoSignals(Change&& change)
    {
        Lock held(mutex_);
        waitForSignalsLocked(held);
        change();
    }

    // Sends a call (the packet, then `trailer`) and waits for its answer; on
    // success `response` holds the payload. `expectedMax` is the largest answer
    // the caller can take. With `landing`, an execute answer of the expected
    // size leaves only its command record in `response` and its data in the
    // landing places, and `*landed` tells so.
    int call(std::vector<uint8_t> packet, uint64_t expectedMax, std::vector<uint8_t>* response, CvError* error,
             const Trailer& trailer = {}, const Trailer* landing = nullptr, bool* landed = nullptr);
    // As call(), for an answer of exactly `size` bytes copied to `out`.
    int callFixed(uint8_t function, std::vector<uint8_t> packet, void* out, uint32_t size, CvError* error);
    // A submit: registers `submit` as pending unless its tag is already pending
    // (code 4), sends the call, and withdraws the record again on any failure.
    int callSubmit(uint8_t function, std::vector<uint8_t> packet, const PendingSubmit& submit, CvError* error,
                   const Trailer& trailer = {});
    // A payload-less client signal (start or stop events).
    int sendSignal(uint8_t function, CvError* error);
    // Removes and returns the pending submit the completion names; false if none.
    bool takePendingSubmit(CvUID resource, CvUID service, uint32_t tag, PendingSubmit* found);

    // Serialises connect, disconnect, dispose and the listener setters.
    std::mutex& lifecycle() { return lifecycle_; }
    // Guards the listeners RemoteMachine keeps with the connection state.
    std::mutex& mutex() { return mutex_; }
    // Where packets are built and answers received; callers give the packet
    // they built and the answer they took back here once done with them.
    BufferPool& buffers() { return buffers_; }
    CvUID machine() const { return machine_; }

private:
    using Lock = std::unique_lock<std::mutex>;

    // Takes a free ticket (polling while all ten are out), writes the packet
    // itself and waits until the ticket is done, reading the answer itself when
    // no other thread is reading; then returns the ticket.
    int exchange(std::vector<uint8_t> packet, const Trailer& trailer, bool isCall, Lock& held,
                 std::vector<uint8_t>* response, CvError* error, const Trailer* landing = nullptr,
                 bool* landed = nullptr);
    // Writes the ticket's packet and trailer whole, in the order the answers
    // will come back; false when the link broke.
    bool send(Lock& held, Ticket& ticket, const Trailer& trailer);
    void tearDownLocked(Lock& held);
    void waitForSignalsLocked(Lock& held);
    void runThread();
    // Reads packets while the socket stays readable; true when it read any.
    bool readAvailable();
    // One packet; false to stop reading until the next pass.
    bool readPacket();
    bool readAnswer(uint8_t command, uint32_t ticketId, uint32_t length);
    bool readSignal(uint8_t function, uint32_t length);
    // Fills `buffer`; the count read (less than asked when the stream ended or failed).
    int receive(void* buffer, int length);
    // Fills the places in turn; false when the stream ended or failed first.
    bool receiveInto(std::vector<iovec> places);
    void breakLink(Lock& held, const char* reason);
    void abortTickets(Lock& held, const char* reason);
    void finishTicket(Ticket& ticket);
    void queueAbortedSubmits(Lock& held, const char* reason);
    // Hands the item to the framework's work queue and counts it in flight.
    void queueWork(Lock& held, std::unique_ptr<WorkItem> item);
    // The work function: passes the item to the sink, then counts it finished.
    static void RunWorkItem(void* argument);
    void wake();
    bool idleWait();
    const char* serverText() const;

    const CvUID machine_;
    const InetAddress server_;
    SignalSink& sink_;

    // Who reads the socket now. A caller waiting for an answer reads it itself;
    // the RPC thread reads only while no caller waits, for the server's signals.
    enum class Reader { kNone, kThread, kCaller };

    std::mutex lifecycle_;
    std::mutex mutex_;
    std::mutex sendMutex_;  // taken before mutex_: one packet at a time on the socket
    // Notified (with mutex_) when a ticket is done or freed, and when the reader changes.
    std::condition_variable changed_;
    // The RPC thread rests on this while callers are busy; notified when the
    // last waiting answer is collected (parkedUntilIdle_) and when the link goes down.
    std::condition_variable parked_;
    bool parkedUntilIdle_ = false;
    Reader reader_ = Reader::kNone;
    std::chrono::steady_clock::time_point lastCall_;  // when the latest call was collected
    BufferPool buffers_;
    int32_t socket_ = -1;
    std::optional<Wakeup> wakeup_;  // lets a caller wake the idle RPC thread; there while connected
    bool threadStarted_ = false;
    bool active_ = false;
    bool keepRunning_ = false;
    bool broken_ = true;
    std::string abortReason_;
    int32_t signalsInFlight_ = 0;
    std::vector<PendingSubmit> pending_;
    std::thread thread_;

    std::vector<std::unique_ptr<Ticket>> tickets_;
    std::deque<Ticket*> free_;
    std::deque<Ticket*> waiting_;  // sent (or being sent), in the order they went out
    std::deque<Ticket*> done_;
};

// Fails with the message for an answer of the wrong size (code 1).
int WrongAnswerLength(CvError* error, uint8_t function, std::size_t received, uint64_t expected);

}  // namespace cvpl_tcpip
