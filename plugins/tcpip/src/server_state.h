// State of the remote access server and of each connected client.
//
// One recursive lock (ServerLock) guards the server state and the client list and
// map. Each client's socket is read only by its worker, without that lock, so a
// slow client stalls nobody else; writes to a client's socket go through the
// client's send lock and its queue so that every packet is written whole and in
// order, and no sender waits for a client that does not read.
#pragma once

#include <corvane.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "buffer_pool.h"
#include "rpc_protocol.h"
#include "server.h"
#include "wakeup.h"

namespace cvpl_tcpip::server {

// Why the server ended a conversation on its own.
enum class DropReason { kNone, kNotReading, kStalled };

// A packet, or its rest, that the socket has not taken yet. `data` is `owned`,
// or, for the worker's own answer, the worker's buffer while it waits.
struct Outgoing {
    ByteBuffer owned;
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t sent = 0;
};

struct Client {
    CvUID uid = CV_UID_NONE;
    uint32_t peerAddress = 0;  // network order
    CvTcpipClientInfo info{};
    CvLogListener logListener{};
    CvHotplugListener hotplugListener{};
    bool logAttached = false;      // the worker's alone
    bool hotplugAttached = false;  // the worker's alone
    int32_t socket = -1;
    Wakeup wakeup;  // stop, or a completed submit

    std::atomic<int32_t> pending{0};    // submits not yet completed
    std::atomic<bool> connected{true};  // the conversation may continue
    std::atomic<bool> running{true};    // the server wants the worker to continue
    bool workerAlive = false;           // guarded by ServerLock
    bool workerStarted = false;         // guarded by ServerLock; stays set once the worker ran
    std::thread worker;

    std::mutex sendLock;  // guards the socket's writing side and the three fields below
    std::deque<Outgoing> outgoing;
    size_t queuedBytes = 0;  // of the owned packets in `outgoing`
    std::chrono::steady_clock::time_point lastProgress;  // the last write while something waited
    std::atomic<DropReason> dropReason{DropReason::kNone};

    ReceiveBuffer inbound;  // PayloadHeadroom() bytes, then the payload being handled; the worker's alone
    BufferPool buffers;  // command copies and outgoing packets, reused between calls
};

struct RegistryLocation {
    bool present = false;
    char text[128] = {};
    InetAddress address{};
};

struct ServerState {
    bool started = false;
    std::atomic<bool> run{false};
    int threadState = 0;  // 0 starting / stopped, 1 running, -1 failed
    int32_t listenSocket = -1;
    int32_t broadcastSocket = -1;
    bool acceptingAllowed = true;
    int32_t serverPort = rpc::kDefaultServerPort;
    int32_t broadcastPort = rpc::kDefaultBroadcastPort;
    int boundPort = 0;
    RegistryLocation registry;
    uint32_t listenAddress = 0;  // network order; INADDR_ANY: every address
    bool allowListSet = false;   // when set, only allowedClients may connect
    std::vector<uint32_t> allowedClients;  // network order
    std::thread thread;
    std::unique_ptr<Wakeup> wakeup;  // run cleared, or a worker ended

    std::vector<std::unique_ptr<Client>> clients;  // in order of connection
    CvUID uid = CV_UID_NONE;
};

std::recursive_mutex& ServerLock();
// Signalled (under ServerLock) when the thread state or a worker's liveness changes.
std::condition_variable_any& ServerChanged();
ServerState& State();

// server_settings.cpp: reads the start settings into the state; 0 with error.
int ReadSettings(const StringMap* settings, ServerState& state, CvError* error);

// Whether a client from `address` (network order) may connect.
bool ClientAllowed(const ServerState& state, uint32_t address);

// server_thread.cpp
void ServerThread();
// Removes the client from the list and frees it (ServerLock held). The worker
// must have ended.
void ForgetClient(Client* client);

// server_worker.cpp
void ClientWorker(Client* client);

// server_outbound.cpp. Sends one whole packet, or queues what the socket does
// not take at once, and never waits; false (and connected cleared) when the
// socket fails or the client lets too much wait. Nothing is sent to a
// disconnected client.
bool SendToClient(Client& client, const std::vector<uint8_t>& packet);
bool SendToClient(Client& client, const uint8_t* packet, size_t length);
// The worker's answer to a call: returns once the socket has taken all of it
// (the buffer is not copied), or false when the client is dropped meanwhile:
// it stopped taking data for kStallTimeout, or the server stops.
bool SendAnswer(Client& client, const uint8_t* packet, size_t length);
void SendDisconnect(Client& client);
// True, with the time by which the queue must move, when packets wait.
bool HasBacklog(Client& client, std::chrono::steady_clock::time_point* deadline);
// Writes what waits as far as the socket takes it (the socket had room).
void FlushBacklog(Client& client);

// Spare bytes in front of a call's payload: an execute answer is the request
// less its leading UIDs, so its header is written there and the answer goes
// out in place, without a copy. For a command call there are as many more as
// put its data block on a 16-byte boundary, as an allocation would be, so that
// the service can work on the buffers where they arrived.
inline size_t PayloadHeadroom(uint8_t command, uint8_t function) {
    if (command != rpc::kCall) return rpc::kHeaderSize;
    switch (function) {
        case rpc::kMachineServiceExecute:
        case rpc::kMachineServiceSubmit: return 20;  // + 60 bytes of prefix
        case rpc::kResourceServiceExecute:
        case rpc::kResourceServiceSubmit: return 16;  // + 64 bytes of prefix
        default: return rpc::kHeaderSize;
    }
}
static_assert((20 + rpc::kMachineCommandPrefix) % 16 == 0 && (16 + rpc::kResourceCommandPrefix) % 16 == 0);

// server_calls.cpp: handles one call packet; clears connected on a violation.
// The PayloadHeadroom() bytes before `payload` belong to the call too.
void HandleCall(Client& client, uint8_t call, uint32_t ticket, uint8_t* payload, size_t length);

// server_events.cpp: fills the client's listeners with the signal senders.
void InitListeners(Client& client);
// Client signals 0 ... 3.
void HandleClientSignal(Client& client, uint8_t signal, uint32_t length);
// Takes the client's listeners off the framework, where they are attached.
void DetachListeners(Client& client);

}  // namespace cvpl_tcpip::server
