#include "rpc_client.h"

#include <errno.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <climits>
#include <chrono>
#include <cstring>
#include <system_error>
#include <utility>

#include "rpc_protocol.h"

namespace cvpl_tcpip {

// One item on the framework's work queue: a signal from the server, or the
// submits a broken link left without completion.
struct WorkItem {
    RpcClient* client = nullptr;
    std::unique_ptr<SignalPacket> signal;
    std::vector<PendingSubmit> aborted;
    std::string reason;
};

namespace {

constexpr const char* kLinkBroken = "the network link is in an unrecoverable error state";
constexpr int64_t kTicketPollMicroseconds = 1000;
constexpr int64_t kDrainPollMicroseconds = 500;

// Writes `head` and then every piece of `tail`, whole; false on failure.
bool SendWhole(int32_t socket, const ByteBuffer& head, const Trailer& tail)
{
    std::vector<iovec> pieces;
    pieces.reserve(1 + tail.size());
    pieces.push_back({const_cast<uint8_t*>(head.data()), head.size()});
    for (const iovec& piece : tail)
        if (piece.iov_len != 0) pieces.push_back(piece);
    std::size_t first = 0;
    while (first < pieces.size()) {
        msghdr message{};
        message.msg_iov = pieces.data() + first;
        message.msg_iovlen = std::min<std::size_t>(pieces.size() - first, IOV_MAX);
        const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto left = static_cast<std::size_t>(sent);
        while (first < pieces.size() && left >= pieces[first].iov_len) left -= pieces[first++].iov_len;
        if (left > 0) {
            pieces[first].iov_base = static_cast<uint8_t*>(pieces[first].iov_base) + left;
            pieces[first].iov_len -= left;
        }
    }
    return true;
}
// The idle RPC thread waits for the socket or a caller; this bound only limits
// how long a missed wake-up could delay it.
constexpr int kIdleWaitMilliseconds = 1000;
// How long after a call the RPC thread leaves the socket to the callers.
constexpr std::chrono::milliseconds kCallerQuiet{2};

}  // namespace

int RpcClient::CheckPayloadSizes(uint64_t request, uint64_t expectedResponse, CvError* error)
{
    constexpr int kMax = static_cast<int>(rpc::kMaxPayload);
    if (request > rpc::kMaxPayload)
        return CvSetThreadError(error, CV_ERROR_INTERNAL,
                                "Tcpip payload too large (%d bytes), max payload size is %d bytes",
                                static_cast<int>(std::min<uint64_t>(request, INT32_MAX)), kMax);
    if (expectedResponse > rpc::kMaxPayload)
        return CvSetThreadError(error, CV_ERROR_INTERNAL,
                                "Internal RPC caller wants a return payload larger than the maximum %d bytes: %d bytes "
                                "requested",
                                kMax, static_cast<int>(std::min<uint64_t>(expectedResponse, INT32_MAX)));
    return CvSetNoThreadError(error);
}

RpcClient::RpcClient(CvUID machine, InetAddress server, SignalSink& sink)
    : machine_(machine), server_(server), sink_(sink)
{
}

RpcClient::~RpcClient()
{
    tearDown();
}

const char* RpcClient::serverText() const
{
    return InetIpNumToString(server_.address);
}

// ---- Connecting and tearing down ----------------------------------------------

int RpcClient::connect(const std::vector<uint8_t>& startSignals, CvError* error)
{
    Lock held(mutex_);
    if (active_)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Machine %d is already connected", static_cast<int>(machine_));
    // A link that broke by itself still has its socket and tickets.
    tearDownLocked(held);
    held.unlock();

    const int32_t socket = SocketCreate(SOCKET_KIND_STREAM);
    if (socket < 0)
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to create network socket: %s (%d)",
                                SocketGetErrorString(), SocketGetErrorVal());
    // Each failure closes the socket; the error number is read before that.
    int code = 0;
    if (SocketConnect(socket, server_) != 0) {
        code = SocketGetErrorVal();
        SocketDestroy(socket);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to connect to %s: %s (%d)", serverText(),
                                SocketGetErrorString(), code);
    }
    if (SocketSendAll(socket, rpc::kHandshakeRequest, sizeof rpc::kHandshakeRequest) !=
        static_cast<int>(sizeof rpc::kHandshakeRequest)) {
        code = SocketGetErrorVal();
        SocketDestroy(socket);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Could not send protocol handshake to '%s': %s (%d)",
                                serverText(), SocketGetErrorString(), code);
    }
    uint8_t answer = 0;
    if (SocketRecvAll(socket, &answer, 1) != 1) {
        code = SocketGetErrorVal();
        SocketDestroy(socket);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Could not receive protocol handshake from '%s': %s (%d)",
                                serverText(), SocketGetErrorString(), code);
    }
    if (answer == rpc::kHandshakeRefused) {
        SocketDestroy(socket);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Protocol incompatibility prevents accessing '%s'",
                                serverText());
    }

    // A call goes out whole in one write; holding back its last segment until
    // the previous ones are acknowledged would only delay it.
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    held.lock();
    socket_ = socket;
    // Without a valid one the idle thread falls back to short sleeps.
    wakeup_.emplace();
    threadStarted_ = active_ = keepRunning_ = true;
    broken_ = false;
    reader_ = Reader::kNone;
    abortReason_.clear();
    for (int i = 0; i < kTicketCount; ++i) {
        tickets_.push_back(std::make_unique<Ticket>());
        free_.push_back(tickets_.back().get());
    }
    try {
        thread_ = std::thread(&RpcClient::runThread, this);
    } catch (const std::system_error&) {
        threadStarted_ = active_ = keepRunning_ = false;
        broken_ = true;
        tearDownLocked(held);
        return CvSetThreadError(error, CV_ERROR_FAILED, "Unable to create rpc thread");
    }
    for (const uint8_t signal : startSignals) {
        if (exchange(rpc::EmptyPacket(rpc::kSignal, signal), {}, false, held, nullptr, error) == 0) {
            const CvError failure = *error;
            tearDownLocked(held);
            *error = failure;
            return 0;
        }
    }
    return CvSetNoThreadError(error);
}

void RpcClient::tearDown()
{
    Lock held(mutex_);
    tearDownLocked(held);
}

void RpcClient::tearDownLocked(Lock& held)
{
    if (threadStarted_) {
        keepRunning_ = false;
        threadStarted_ = false;
        std::thread thread = std::move(thread_);
        wake();
        changed_.notify_all();
        parked_.notify_all();
        held.unlock();
        thread.join();
        held.lock();
        // A caller still reading or writing the socket returns at once.
        if (socket_ >= 0) ::shutdown(socket_, SHUT_RDWR);
    }
    // Every caller collects its result, and leaves the socket, before the
    // tickets and the socket go.
    while (!done_.empty() || reader_ != Reader::kNone) {
        held.unlock();
        CrtSleepMicro(kDrainPollMicroseconds);
        held.lock();
    }
    free_.clear();
    waiting_.clear();
    tickets_.clear();
    if (socket_ >= 0) SocketDestroy(socket_);
    socket_ = -1;
    wakeup_.reset();
    broken_ = true;
    active_ = false;
}

bool RpcClient::isConnected()
{
    Lock held(mutex_);
    return !broken_;
}

void RpcClient::waitForSignals()
{
    Lock held(mutex_);
    waitForSignalsLocked(held);
}

void RpcClient::waitForSignalsLocked(Lock& held)
{
    while (signalsInFlight_ > 0) {
        held.unlock();
        CrtSleepMicro(kDrainPollMicroseconds);
        held.lock();
    }
}

void RpcClient::RunWorkItem(void* argument)
{
    std::unique_ptr<WorkItem> item(static_cast<WorkItem*>(argument));
    RpcClient& client = *item->client;
    if (item->signal) {
        client.sink_.deliver(*item->signal);
        client.buffers_.give(std::move(item->signal->payload));
    } else {
        client.sink_.completeAborted(item->aborted, item->reason);
    }
    Lock held(client.mutex_);
    --client.signalsInFlight_;
}

// ---- Calls --------------------------------------------------------------------

int RpcClient::exchange(std::vector<uint8_t> packet, const Trailer& trailer, bool isCall, Lock& held,
                        std::vector<uint8_t>* response, CvError* error, const Trailer* landing, bool* landed)
{
    for (;;) {
        if (broken_) return CvSetThreadError(error, CV_ERROR_FAILED, "The RPC service is disconnected");
        if (!active_) return CvSetThreadError(error, CV_ERROR_FAILED, "The RPC service has shut down");
        if (!free_.empty()) break;
        // All ten out: poll until one comes back.
        held.unlock();
        CrtSleepMicro(kTicketPollMicroseconds);
        held.lock();
    }
    Ticket* ticket = free_.front();
    free_.pop_front();
    ticket->done = false;
    ticket->isCall = isCall;
    ticket->id = 0;
    ticket->packet = std::move(packet);
    ticket->response.clear();
    CvSetNoError(&ticket->error);
    ticket->landing.clear();
    if (landing != nullptr) ticket->landing = *landing;
    ticket->landed = false;

    if (send(held, *ticket, trailer)) {
        // The answer: read by this caller unless another thread is reading.
        while (!ticket->done) {
            if (reader_ == Reader::kNone) {
                reader_ = Reader::kCaller;
                held.unlock();
                readPacket();
                held.lock();
                reader_ = Reader::kNone;
                changed_.notify_all();
                continue;
            }
            changed_.wait(held);
        }
    }

    done_.erase(std::find(done_.begin(), done_.end(), ticket));
    if (landed != nullptr) *landed = ticket->landed;
    if (response != nullptr) *response = std::move(ticket->response);
    *error = ticket->error;
    buffers_.give(std::move(ticket->packet));
    buffers_.give(std::move(ticket->response));
    free_.push_back(ticket);
    lastCall_ = std::chrono::steady_clock::now();
    if (parkedUntilIdle_ && waiting_.empty()) {
        parkedUntilIdle_ = false;
        parked_.notify_all();
    }
    changed_.notify_all();
    return error->code == CV_ERROR_NONE ? 1 : 0;
}

bool RpcClient::send(Lock& held, Ticket& ticket, const Trailer& trailer)
{
    held.unlock();
    std::lock_guard sending(sendMutex_);
    held.lock();
    if (broken_) {
        CvSetError(&ticket.error, CV_ERROR_FAILED, "The RPC service is disconnected");
        finishTicket(ticket);
        return false;
    }
    // Queued before it is written: the answer may come back at once, and
    // answers come back in the order the calls went out.
    if (ticket.isCall) waiting_.push_back(&ticket);
    held.unlock();
    const bool sent = SendWhole(socket_, ticket.packet, trailer);
    const int code = sent ? 0 : SocketGetErrorVal();
    held.lock();
    if (sent) {
        if (!ticket.isCall) finishTicket(ticket);
        return true;
    }
    if (!ticket.done) {
        std::erase(waiting_, &ticket);
        CvSetError(&ticket.error, CV_ERROR_FAILED, "Could not send packet on '%s': error %d", serverText(), code);
        finishTicket(ticket);
    }
    if (!broken_) breakLink(held, kLinkBroken);
    return false;
}

int RpcClient::call(std::vector<uint8_t> packet, uint64_t expectedMax, std::vector<uint8_t>* response, CvError* error,
                    const Trailer& trailer, const Trailer* landing, bool* landed)
{
    uint64_t trailing = 0;
    for (const iovec& piece : trailer) trailing += piece.iov_len;
    if (CheckPayloadSizes(packet.size() - rpc::kHeaderSize + trailing, expectedMax, error) == 0) return 0;
    Lock held(mutex_);
    return exchange(std::move(packet), trailer, true, held, response, error, landing, landed);
}

int WrongAnswerLength(CvError* error, uint8_t function, std::size_t received, uint64_t expected)
{
    return CvSetThreadError(error, CV_ERROR_INTERNAL,
                            "Returned payload length for RPC function %d does not match expected payload length: %d "
                            "bytes vs %d bytes",
                            function, static_cast<int>(received), static_cast<int>(expected));
}

int RpcClient::callFixed(uint8_t function, std::vector<uint8_t> packet, void* out, uint32_t size, CvError* error)
{
    std::vector<uint8_t> response;
    int ok = call(std::move(packet), size, &response, error);
    if (ok != 0 && response.size() != size) ok = WrongAnswerLength(error, function, response.size(), size);
    // Info records are zero-filled when the call fails.
    if (size != 0) {
        if (ok != 0)
            std::memcpy(out, response.data(), size);
        else
            std::memset(out, 0, size);
    }
    buffers_.give(std::move(response));
    return ok;
}

int RpcClient::callSubmit(uint8_t function, std::vector<uint8_t> packet, const PendingSubmit& submit, CvError* error,
                          const Trailer& trailer)
{
    uint64_t trailing = 0;
    for (const iovec& piece : trailer) trailing += piece.iov_len;
    if (CheckPayloadSizes(packet.size() - rpc::kHeaderSize + trailing, 0, error) == 0) return 0;
    auto same = [&](const PendingSubmit& other) {
        return other.resource == submit.resource && other.service == submit.service &&
               other.command->tag == submit.command->tag;
    };
    Lock held(mutex_);
    if (std::any_of(pending_.begin(), pending_.end(), same))
        return CvSetThreadError(error, CV_ERROR_INVALID_INPUT, "Command tag is a duplicate: %d",
                                static_cast<int>(submit.command->tag));
    pending_.push_back(submit);
    pending_.back().accepted = false;

    std::vector<uint8_t> response;
    int accepted = exchange(std::move(packet), trailer, true, held, &response, error);
    if (accepted != 0 && !response.empty()) accepted = WrongAnswerLength(error, function, response.size(), 0);
    buffers_.give(std::move(response));

    const auto record = std::find_if(pending_.begin(), pending_.end(), [&](const PendingSubmit& other) {
        return same(other) && other.command == submit.command;
    });
    // Gone already: its completion arrived and ran before this caller woke up.
    if (record == pending_.end()) return accepted != 0 ? 1 : 0;
    if (accepted != 0 && broken_) {
        // Accepted, but the link went down before the acceptance was recorded:
        // no completion can arrive any more.
        accepted = CvSetThreadError(error, CV_ERROR_FAILED, "RPC request is aborted because %s", abortReason_.c_str());
    }
    if (accepted == 0)
        pending_.erase(record);
    else
        record->accepted = true;
    return accepted;
}

int RpcClient::sendSignal(uint8_t function, CvError* error)
{
    Lock held(mutex_);
    return exchange(rpc::EmptyPacket(rpc::kSignal, function), {}, false, held, nullptr, error);
}

bool RpcClient::takePendingSubmit(CvUID resource, CvUID service, uint32_t tag, PendingSubmit* found)
{
    Lock held(mutex_);
    const auto record = std::find_if(pending_.begin(), pending_.end(), [&](const PendingSubmit& other) {
        return other.resource == resource && other.service == service && other.command->tag == tag;
    });
    if (record == pending_.end()) return false;
    *found = *record;
    pending_.erase(record);
    return true;
}

// ---- The RPC thread -------------------------------------------------------------

void RpcClient::wake()
{
    if (wakeup_) wakeup_->Signal();
}

// Waits for the socket to become readable or for the wake-up (the link goes
// down); true when the socket is readable.
bool RpcClient::idleWait()
{
    if (!wakeup_ || !wakeup_->Valid()) {
        CrtSleepMicro(50);
        return SocketIsReadable(socket_) == 1;
    }
    pollfd watched[2] = {{socket_, POLLIN, 0}, {wakeup_->Fd(), POLLIN, 0}};
    ::poll(watched, 2, kIdleWaitMilliseconds);
    if ((watched[1].revents & POLLIN) != 0) wakeup_->Drain();
    return (watched[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void RpcClient::runThread()
{
    Lock held(mutex_);
    while (keepRunning_ && !broken_) {
        // Callers waiting for answers read them, and the signals between them;
        // calls come in runs, so the thread keeps out of the way until none has
        // run for a moment.
        if (!waiting_.empty() || reader_ != Reader::kNone) {
            // Woken by the caller that collects the last answer.
            parkedUntilIdle_ = true;
            parked_.wait(held);
            continue;
        }
        if (std::chrono::steady_clock::now() - lastCall_ < kCallerQuiet) {
            parked_.wait_for(held, kCallerQuiet);
            continue;
        }
        held.unlock();
        const bool readable = idleWait();
        held.lock();
        if (!readable || !waiting_.empty() || reader_ != Reader::kNone) continue;
        reader_ = Reader::kThread;
        held.unlock();
        readAvailable();
        held.lock();
        reader_ = Reader::kNone;
        changed_.notify_all();
    }
    if (broken_) {
        active_ = false;
        return;
    }
    held.unlock();
    const std::vector<uint8_t> goodbye = rpc::EmptyPacket(rpc::kDisconnect);
    {
        std::lock_guard sending(sendMutex_);
        SocketSendAll(socket_, goodbye.data(), static_cast<int>(goodbye.size()));
    }
    held.lock();
    breakLink(held, "the RPC thread is shutting down");
    active_ = false;
}

bool RpcClient::readAvailable()
{
    bool any = false;
    while (SocketIsReadable(socket_) == 1) {
        any = true;
        if (!readPacket()) break;
    }
    return any;
}

int RpcClient::receive(void* buffer, int length)
{
    auto* bytes = static_cast<uint8_t*>(buffer);
    int total = 0;
    while (total < length) {
        const int got = SocketRecv(socket_, bytes + total, length - total);
        if (got <= 0) break;
        total += got;
    }
    return total;
}

bool RpcClient::receiveInto(std::vector<iovec> places)
{
    std::size_t first = 0;
    while (first < places.size()) {
        if (places[first].iov_len == 0) {
            ++first;
            continue;
        }
        const ssize_t got = ::readv(socket_, places.data() + first,
                                    static_cast<int>(std::min<std::size_t>(places.size() - first, IOV_MAX)));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        auto left = static_cast<std::size_t>(got);
        while (first < places.size() && left >= places[first].iov_len) left -= places[first++].iov_len;
        if (left > 0) {
            places[first].iov_base = static_cast<uint8_t*>(places[first].iov_base) + left;
            places[first].iov_len -= left;
        }
    }
    return true;
}

bool RpcClient::readPacket()
{
    uint8_t raw[rpc::kHeaderSize];
    const int got = SocketRecvAll(socket_, raw, sizeof raw);
    if (got <= 0) {
        // Torn down while this thread was reading: nothing to report.
        Lock held(mutex_);
        if (broken_) return false;
    }
    if (got < 0) {
        CvLog(CV_LOG_ERROR, "RPC: Unable to read on the socket, assuming server disconnected without warning");
        Lock held(mutex_);
        breakLink(held, kLinkBroken);
        return false;
    }
    if (got == 0) {
        CvLog(CV_LOG_ERROR, "RPC: Server disconnected without warning, shutting down RPC service");
        Lock held(mutex_);
        breakLink(held, "the server disconnected without warning");
        return false;
    }
    rpc::PacketHeader header;
    const rpc::HeaderStatus status = rpc::DecodeHeader(raw, &header);
    if (status != rpc::HeaderStatus::kOk) {
        if (status == rpc::HeaderStatus::kBadSignature)
            CvLog(CV_LOG_ERROR, "RPC: Invalid header signature on packet");
        else
            CvLog(CV_LOG_ERROR, "RPC: Packet size is invalid: %d bytes", static_cast<int>(header.length));
        // The payload boundary is lost: what follows cannot be read as packets.
        Lock held(mutex_);
        breakLink(held, kLinkBroken);
        return false;
    }
    switch (header.command) {
    case rpc::kDisconnect: {
        Lock held(mutex_);
        breakLink(held, "the RPC service is disconnected from the server");
        return false;
    }
    case rpc::kCallResponse:
    case rpc::kCallError:
        return readAnswer(header.command, header.ticket, header.length);
    case rpc::kSignal:
        return readSignal(header.function, header.length);
    default: {
        CvLog(CV_LOG_INFO, "RPC: Unknown command on packet: %d", header.command);
        // Skip its payload so that the next header is read where it starts.
        std::vector<uint8_t> skipped(header.length);
        if (receive(skipped.data(), static_cast<int>(header.length)) != static_cast<int>(header.length)) {
            Lock held(mutex_);
            breakLink(held, kLinkBroken);
        }
        return false;
    }
    }
}

bool RpcClient::readAnswer(uint8_t command, uint32_t ticketId, uint32_t length)
{
    Ticket* ticket = nullptr;
    {
        Lock held(mutex_);
        const auto found = std::find_if(waiting_.begin(), waiting_.end(), [&](Ticket* t) { return t->id == ticketId; });
        if (found != waiting_.end()) {
            ticket = *found;
            waiting_.erase(found);
        }
    }
    if (ticket == nullptr) {
        CvLog(CV_LOG_ERROR, "RPC: Header id does not reference a valid ticket: %d", static_cast<int>(ticketId));
        // The unclaimed payload would be read as headers.
        Lock held(mutex_);
        breakLink(held, kLinkBroken);
        return false;
    }

    uint64_t landingBytes = rpc::kCommandSize;
    for (const iovec& place : ticket->landing) landingBytes += place.iov_len;
    if (command == rpc::kCallResponse && !ticket->landing.empty() && length == landingBytes) {
        // The data goes where the caller wants it, without passing through a block.
        ByteBuffer record = buffers_.take(rpc::kCommandSize);
        record.resize(rpc::kCommandSize);
        const int got = receive(record.data(), static_cast<int>(rpc::kCommandSize));
        const bool complete = got == static_cast<int>(rpc::kCommandSize) && receiveInto(ticket->landing);
        Lock held(mutex_);
        if (!complete) {
            CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                       "Unable to read any packet data on the socket even though there should be some present");
            finishTicket(*ticket);
            breakLink(held, kLinkBroken);
            return false;
        }
        ticket->response = std::move(record);
        ticket->landed = true;
        finishTicket(*ticket);
        return true;
    }

    if (command == rpc::kCallResponse) {
        ByteBuffer block = buffers_.take(length);
        block.resize(length);
        const int got = length != 0 ? receive(block.data(), static_cast<int>(length)) : 0;
        Lock held(mutex_);
        if (length != 0 && got <= 0) {
            CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                       "Unable to read any packet data on the socket even though there should be some present");
            finishTicket(*ticket);
            breakLink(held, kLinkBroken);
            return false;
        }
        if (got < static_cast<int>(length)) {
            CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                       "Unable to read the complete set of packet data: could only read %d bytes", got);
            finishTicket(*ticket);
            return false;
        }
        ticket->response = std::move(block);
        finishTicket(*ticket);
        return true;
    }

    constexpr uint32_t kErrorSize = rpc::kErrorSize;
    if (length != kErrorSize) {
        Lock held(mutex_);
        CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                   "Header length does not match the expected error information length: %d vs %d",
                   static_cast<int>(length), static_cast<int>(kErrorSize));
        finishTicket(*ticket);
        // The payload boundary is lost.
        breakLink(held, kLinkBroken);
        return false;
    }
    CvError remote{};
    const int got = receive(&remote, static_cast<int>(kErrorSize));
    Lock held(mutex_);
    if (got <= 0) {
        CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                   "Unable to read any packet error data on the socket even though there should be some present");
        finishTicket(*ticket);
        breakLink(held, kLinkBroken);
        return false;
    }
    if (got < static_cast<int>(kErrorSize)) {
        CvSetError(&ticket->error, CV_ERROR_INTERNAL,
                   "Unable to read the complete set of packet error data: could only read %d bytes", got);
        finishTicket(*ticket);
        return false;
    }
    remote.message[CV_ERROR_MESSAGE_SIZE - 1] = '\0';
    ticket->error = remote;
    finishTicket(*ticket);
    return true;
}

bool RpcClient::readSignal(uint8_t function, uint32_t length)
{
    auto signal = std::make_unique<SignalPacket>();
    signal->function = function;
    signal->payload = buffers_.take(length);
    signal->payload.resize(length);
    if (length != 0) {
        const int got = receive(signal->payload.data(), static_cast<int>(length));
        if (got <= 0) {
            CvLog(CV_LOG_ERROR,
                  "Unable to read any packet data on the socket even though there should be some present");
            Lock held(mutex_);
            breakLink(held, kLinkBroken);
            return false;
        }
        if (got < static_cast<int>(length)) {
            CvLog(CV_LOG_ERROR, "Unable to read the complete set of packet data: could only read %d bytes", got);
            return false;
        }
    }
    Lock held(mutex_);
    auto item = std::make_unique<WorkItem>();
    item->signal = std::move(signal);
    queueWork(held, std::move(item));
    return true;
}

// ---- Ending calls -----------------------------------------------------------------

void RpcClient::finishTicket(Ticket& ticket)
{
    if (ticket.done) return;
    ticket.done = true;
    done_.push_back(&ticket);
    changed_.notify_all();
}

void RpcClient::breakLink(Lock& held, const char* reason)
{
    broken_ = true;
    parked_.notify_all();
    abortReason_ = reason;
    abortTickets(held, reason);
    queueAbortedSubmits(held, reason);
}

void RpcClient::abortTickets(Lock&, const char* reason)
{
    for (Ticket* ticket : waiting_) {
        CvSetError(&ticket->error, CV_ERROR_FAILED, "RPC request is aborted because %s", reason);
        finishTicket(*ticket);
    }
    waiting_.clear();
}

// Accepted submits whose completion can no longer arrive are completed with
// the reason, on the work thread like every other completion, so that their
// submitters and the machine manager stop waiting for them.
void RpcClient::queueAbortedSubmits(Lock& held, const char* reason)
{
    auto item = std::make_unique<WorkItem>();
    const auto firstKept = std::stable_partition(pending_.begin(), pending_.end(),
                                                 [](const PendingSubmit& submit) { return submit.accepted; });
    item->aborted.assign(pending_.begin(), firstKept);
    pending_.erase(pending_.begin(), firstKept);
    if (item->aborted.empty()) return;
    item->reason = reason;
    queueWork(held, std::move(item));
}

void RpcClient::queueWork(Lock&, std::unique_ptr<WorkItem> item)
{
    auto* work = static_cast<CvWork*>(CvAlloc(sizeof(CvWork)));
    if (work == nullptr) {
        CvLog(CV_LOG_ERROR, "RPC: Out of memory, dropping signal %d", item->signal ? item->signal->function : 0);
        return;
    }
    item->client = this;
    work->argument = item.release();
    work->function = RunWorkItem;
    ++signalsInFlight_;
    CvWorkManager_QueueWork(work);
}

}  // namespace cvpl_tcpip
