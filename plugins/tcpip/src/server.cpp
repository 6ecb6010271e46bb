// The server's registration and its descriptor functions: start, stop, client
// list and client info.
#include <string.h>

#include <system_error>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip {

namespace server {

namespace {

using Lock = std::unique_lock<std::recursive_mutex>;

void StopClient(Lock& lock, Client* client) {
    client->running.store(false);
    client->wakeup.Signal();
    // Includes waiting for the client's pending submits.
    ServerChanged().wait(lock, [client] { return !client->workerAlive; });
    if (client->connected.load()) {
        SendDisconnect(*client);
    } else {
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send disconnect", static_cast<int>(client->uid));
    }
    if (client->worker.joinable()) {
        lock.unlock();
        client->worker.join();
        lock.lock();
    }
    ForgetClient(client);
}

int Stop(void*, CvError* error) {
    ServerState& state = State();
    Lock lock(ServerLock());
    if (state.started) {
        state.run.store(false);
        state.wakeup->Signal();
        lock.unlock();
        if (state.thread.joinable()) state.thread.join();
        lock.lock();
    }
    while (!state.clients.empty()) StopClient(lock, state.clients.back().get());
    state.started = false;
    return CvSetNoError(error);
}

int Start(void*, StringMap* settings, CvError* error) {
    ServerState& state = State();
    Lock lock(ServerLock());
    if (state.started) return CvSetError(error, CV_ERROR_FAILED, "Server is already started");
    if (!ReadSettings(settings, state, error)) return 0;
    if (!state.wakeup) state.wakeup = std::make_unique<Wakeup>();
    if (!state.wakeup->Valid()) return CvSetError(error, CV_ERROR_FAILED, "Unable to create server thread");

    state.threadState = 0;
    state.run.store(true);
    try {
        state.thread = std::thread(ServerThread);
    } catch (const std::system_error&) {
        state.run.store(false);
        return CvSetError(error, CV_ERROR_FAILED, "Unable to create server thread");
    }
    ServerChanged().wait(lock, [&state] { return state.threadState != 0; });
    if (state.threadState == -1) {
        lock.unlock();
        state.thread.join();
        lock.lock();
        state.run.store(false);
        state.threadState = 0;
        return CvSetError(error, CV_ERROR_FAILED, "Server thread failed to initialize correctly, see log for details");
    }
    state.started = true;
    return CvSetNoError(error);
}

int GetClientList(void*, CvUIDList* list, CvError* error) {
    ServerState& state = State();
    Lock lock(ServerLock());
    memset(list, 0, sizeof *list);
    for (const auto& client : state.clients) {
        if (list->count >= CV_UID_LIST_CAPACITY) break;
        list->uids[list->count++] = client->uid;
    }
    return CvSetNoError(error);
}

int GetClientInfo(void*, CvUID uid, void* clientInfo, CvError* error) {
    ServerState& state = State();
    Lock lock(ServerLock());
    auto* info = static_cast<CvTcpipClientInfo*>(clientInfo);
    for (const auto& client : state.clients) {
        if (client->uid == uid) {
            if (info != nullptr) *info = client->info;
            return CvSetNoError(error);
        }
    }
    if (info != nullptr) memset(info, 0, sizeof *info);
    return CvSetError(error, CV_ERROR_NOT_FOUND, "Server client with UID %d was not found", static_cast<int>(uid));
}

int Dispose(void* userData, CvError* error) { return Stop(userData, error); }

}  // namespace

// Never destroyed: a process may exit while the server still runs (no unload),
// and its threads must not find the state torn down under them.
std::recursive_mutex& ServerLock() {
    static auto* lock = new std::recursive_mutex;
    return *lock;
}

std::condition_variable_any& ServerChanged() {
    static auto* changed = new std::condition_variable_any;
    return *changed;
}

ServerState& State() {
    static auto* state = new ServerState;
    return *state;
}

}  // namespace server

int RegisterServer(CvError* error) {
    server::ServerState& state = server::State();
    std::lock_guard lock(server::ServerLock());
    // Accepting is allowed again for every load of the plug-in.
    state.acceptingAllowed = true;

    CvServerDescriptor descriptor{};
    strncpy(descriptor.info.name, "TCP/IP Access Server", sizeof descriptor.info.name - 1);
    strncpy(descriptor.info.description,
            "Allows remote clients to access resources and services on this machine over a TCP/IP network",
            sizeof descriptor.info.description - 1);
    strncpy(descriptor.info.protocol, "cv-tcpip", sizeof descriptor.info.protocol - 1);
    descriptor.userData = nullptr;
    descriptor.start = server::Start;
    descriptor.stop = server::Stop;
    descriptor.getClientList = server::GetClientList;
    descriptor.getClientInfo = server::GetClientInfo;
    descriptor.dispose = server::Dispose;
    CvUID uid = CV_UID_NONE;
    if (!CvServerManager_Register(&descriptor, &uid, error)) return 0;
    state.uid = uid;
    return 1;
}

int UnregisterServer(CvError* error) {
    server::ServerState& state = server::State();
    CvUID uid;
    {
        std::lock_guard lock(server::ServerLock());
        uid = state.uid;
    }
    if (uid == CV_UID_NONE) return CvSetNoError(error);
    if (!CvServerManager_Unregister(uid, error)) return 0;
    std::lock_guard lock(server::ServerLock());
    state.uid = CV_UID_NONE;
    return 1;
}

int ServerListeningPort() {
    std::lock_guard lock(server::ServerLock());
    return server::State().started ? server::State().boundPort : 0;
}

}  // namespace cvpl_tcpip
