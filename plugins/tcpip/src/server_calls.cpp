// Answers a client's calls by calling this process's framework on the client's
// behalf, with the client's UID as the requester of every command.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "rpc_protocol.h"
#include "server_state.h"

namespace cvpl_tcpip::server {

namespace {

constexpr CvUID kMachineServiceMarker = CV_UID_NONE;

// A command's buffers, private to the server while the framework runs it.
struct CommandCopy {
    CvCommand command{};
    ByteBuffer blocks[CV_COMMAND_BUFFER_COUNT];

    // Takes the command record and its data block from the request, into
    // blocks from the client's pool. With `inPlace` a buffer that starts on a
    // 16-byte boundary is used where it is, in the request, which is also the
    // answer: a synchronous command then costs no copy at all.
    void Load(const CvCommand& wire, uint8_t* data, BufferPool& pool, bool inPlace = false) {
        command = wire;
        for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
            const uint32_t length = wire.bufferLengths[i];
            if (length == 0) {
                command.buffers[i] = nullptr;
                continue;
            }
            if (inPlace && reinterpret_cast<uintptr_t>(data) % 16 == 0) {
                command.buffers[i] = data;
            } else {
                blocks[i] = pool.take(length);
                blocks[i].assign(data, data + length);
                command.buffers[i] = blocks[i].data();
            }
            data += length;
        }
    }

    // Writes the result byte and the buffers' contents back into the request.
    void Store(CvCommand& wire, uint8_t* data) const {
        wire.result = command.result;
        for (int i = 0; i < CV_COMMAND_BUFFER_COUNT; ++i) {
            if (!blocks[i].empty()) std::copy(blocks[i].begin(), blocks[i].end(), data);
            data += wire.bufferLengths[i];
        }
    }

    void Release(BufferPool& pool) {
        for (ByteBuffer& block : blocks) pool.give(std::move(block));
    }
};

// Sends one packet built in a buffer of the client's pool, and returns the
// buffer to the pool. An answer of the worker waits for the socket to take it;
// anything else never waits.
bool SendBuilt(Client& client, rpc::PacketBuilder&& builder, bool answer) {
    ByteBuffer packet = builder.Finish();
    const bool sent = answer ? SendAnswer(client, packet.data(), packet.size()) : SendToClient(client, packet);
    client.buffers.give(std::move(packet));
    return sent;
}

// A submitted command until its completion has been sent.
struct Submission {
    CvUID resource = kMachineServiceMarker;
    CvUID service = CV_UID_NONE;
    Client* client = nullptr;
    CommandCopy copy;
    CvCommandCompletion completion{};
};

class Request {
public:
    Request(Client& client, uint8_t call, uint32_t ticket, uint8_t* payload, size_t length)
        : client_(client), call_(call), ticket_(ticket), payload_(payload), length_(length) {}

    void Handle();

private:
    uint32_t Length() const { return static_cast<uint32_t>(length_); }
    uint32_t UID(size_t index) const {
        uint32_t value = 0;
        rpc::PayloadReader reader(payload_ + 4 * index, length_ - 4 * index);
        reader.U32(&value);
        return value;
    }
    bool Violation(const char* format, ...) CV_PRINTF(2, 3);
    bool RequireLength(uint32_t wanted);
    bool RequireCommandLength(uint32_t prefix);

    void Respond(const void* data, size_t length);
    // Answers with the request's bytes from `offset` on, sent in place.
    void RespondWithTail(size_t offset);
    void LogUnsentResponse() const;
    void RespondError(const CvError& error);
    void Answer(int ok, const CvError& error, const void* data, size_t length) {
        if (ok) Respond(data, length);
        else RespondError(error);
    }

    void Execute(uint32_t uidCount);
    void Submit(uint32_t uidCount);

    Client& client_;
    uint8_t call_;
    uint32_t ticket_;
    uint8_t* payload_;  // PayloadHeadroom() writable bytes precede it
    size_t length_;
};

bool Request::Violation(const char* format, ...) {
    char message[CV_LOG_MESSAGE_MAX + 1];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    CvLog(CV_LOG_ERROR, "%s", message);
    client_.connected.store(false);
    return false;
}

bool Request::RequireLength(uint32_t wanted) {
    if (Length() == wanted) return true;
    const char* name = rpc::CallName(call_);
    if (call_ == rpc::kGetResourceList || call_ == rpc::kGetMachineServiceList)
        return Violation("Length must be 0 but was %d on call '%s'", static_cast<int>(Length()), name);
    if (call_ == rpc::kMachineServiceAbort || call_ == rpc::kResourceServiceAbort)
        return Violation("Length must be %d on call '%s'", static_cast<int>(wanted), name);
    return Violation("Length must be %d but was %d on call '%s'", static_cast<int>(wanted), static_cast<int>(Length()),
                     name);
}

bool Request::RequireCommandLength(uint32_t prefix) {
    const char* name = rpc::CallName(call_);
    if (Length() < prefix)
        return Violation("Length must be at least %d but was %d on call '%s'", static_cast<int>(prefix),
                         static_cast<int>(Length()), name);
    CvCommand wire{};
    std::memcpy(&wire, payload_ + prefix - rpc::kCommandSize, sizeof wire);
    const uint64_t wanted = prefix + rpc::CommandDataLength(wire);
    if (wanted != Length())
        return Violation("Length must be %d but was %d because of the buffers on call '%s'", static_cast<int>(wanted),
                         static_cast<int>(Length()), name);
    return true;
}

void Request::Respond(const void* data, size_t length) {
    rpc::PacketBuilder builder(client_.buffers.take(rpc::kHeaderSize + length), length, rpc::kCallResponse, 0, ticket_);
    builder.Bytes(data, length);
    if (!SendBuilt(client_, std::move(builder), true)) LogUnsentResponse();
}

void Request::RespondWithTail(size_t offset) {
    rpc::PacketHeader header;
    header.command = rpc::kCallResponse;
    header.ticket = ticket_;
    header.length = static_cast<uint32_t>(length_ - offset);
    // The header overwrites bytes before the tail that have served their purpose.
    uint8_t* packet = payload_ + offset - rpc::kHeaderSize;
    rpc::EncodeHeader(header, packet);
    if (!SendAnswer(client_, packet, rpc::kHeaderSize + header.length)) LogUnsentResponse();
}

void Request::LogUnsentResponse() const {
    CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send call response for packet %d",
          static_cast<int>(client_.uid), static_cast<int>(ticket_));
}

void Request::RespondError(const CvError& error) {
    rpc::PacketBuilder builder(client_.buffers.take(rpc::kHeaderSize + sizeof error), sizeof error, rpc::kCallError, 0,
                               ticket_);
    builder.Raw(error);
    if (!SendBuilt(client_, std::move(builder), true))
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send call error for packet %d",
              static_cast<int>(client_.uid), static_cast<int>(ticket_));
}

void Request::Execute(uint32_t uidCount) {
    const size_t prefix = 4 * uidCount;
    CvCommand wire{};
    std::memcpy(&wire, payload_ + prefix, sizeof wire);
    uint8_t* data = payload_ + prefix + sizeof wire;
    CommandCopy copy;
    copy.Load(wire, data, client_.buffers, true);

    CvError error{};
    const int ok = uidCount == 1
                       ? CvMachineService_ExecuteCommand(UID(0), client_.uid, &copy.command, &error)
                       : CvResourceService_ExecuteCommand(UID(0), UID(1), client_.uid, &copy.command, &error);
    if (!ok) {
        copy.Release(client_.buffers);
        RespondError(error);
        return;
    }
    copy.Store(wire, data);
    copy.Release(client_.buffers);
    std::memcpy(payload_ + prefix, &wire, sizeof wire);
    RespondWithTail(prefix);
}

// Runs on whatever thread completes the command.
void SendCompletion(CvCommandCompletion* completion, CvCommand*) {
    std::unique_ptr<Submission> submission(static_cast<Submission*>(completion->context));
    Client& client = *submission->client;
    const bool machine = submission->resource == kMachineServiceMarker;
    const uint8_t signal = machine ? rpc::kMachineServiceCommandComplete : rpc::kResourceServiceCommandComplete;

    // UID(s), the command as completed, the completion's error, then the data block.
    size_t size = machine ? rpc::kMachineCompletePrefix : rpc::kResourceCompletePrefix;
    for (const auto& block : submission->copy.blocks) size += block.size();
    rpc::PacketBuilder ordered(client.buffers.take(rpc::kHeaderSize + size), size, rpc::kSignal, signal);
    if (!machine) ordered.U32(submission->resource);
    ordered.U32(submission->service).Raw(submission->copy.command).Raw(completion->error);
    for (const auto& block : submission->copy.blocks) ordered.Bytes(block.data(), block.size());

    if (!SendBuilt(client, std::move(ordered), false))
        CvLog(CV_LOG_WARNING, "Client %d is diconnected, cannot send signal %d", static_cast<int>(client.uid), signal);
    submission->copy.Release(client.buffers);
    // The worker may end (and the record go) once pending reaches 0.
    std::lock_guard lock(ServerLock());
    client.pending.fetch_sub(1);
    client.wakeup.Signal();
}

void Request::Submit(uint32_t uidCount) {
    client_.pending.fetch_add(1);
    const size_t prefix = 4 * uidCount;
    auto submission = std::make_unique<Submission>();
    submission->client = &client_;
    submission->resource = uidCount == 1 ? kMachineServiceMarker : UID(0);
    submission->service = UID(uidCount - 1);
    CvCommand wire{};
    std::memcpy(&wire, payload_ + prefix, sizeof wire);
    submission->copy.Load(wire, payload_ + prefix + sizeof wire, client_.buffers);
    submission->completion.context = submission.get();
    submission->completion.complete = SendCompletion;

    // Owned by SendCompletion once accepted, which may run before the call returns.
    Submission* raw = submission.release();
    CvError error{};
    const int ok = uidCount == 1
                       ? CvMachineService_SubmitCommand(raw->service, client_.uid, &raw->copy.command,
                                                        &raw->completion, &error)
                       : CvResourceService_SubmitCommand(raw->resource, raw->service, client_.uid, &raw->copy.command,
                                                         &raw->completion, &error);
    if (!ok) {
        // Refused: no completion will come, so the submission is ours again.
        submission.reset(raw);
        submission->copy.Release(client_.buffers);
        client_.pending.fetch_sub(1);
        RespondError(error);
        return;
    }
    Respond(nullptr, 0);
}

void Request::Handle() {
    CvError error{};
    switch (call_) {
        case rpc::kGetResourceList:
        case rpc::kGetMachineServiceList: {
            if (!RequireLength(0)) return;
            auto list = std::make_unique<CvUIDList>();
            const int ok = call_ == rpc::kGetResourceList ? CvResourceManager_GetResourceList(list.get(), &error)
                                                          : CvMachineServiceManager_GetMachineServiceList(list.get(),
                                                                                                          &error);
            return Answer(ok, error, list.get(), sizeof *list);
        }
        case rpc::kMachineServiceGetInfo: {
            if (!RequireLength(4)) return;
            CvServiceInfo info{};
            return Answer(CvMachineService_GetInfo(UID(0), &info, &error), error, &info, sizeof info);
        }
        case rpc::kMachineServiceExecute:
            if (RequireCommandLength(rpc::kMachineCommandPrefix)) Execute(1);
            return;
        case rpc::kMachineServiceSubmit:
            if (RequireCommandLength(rpc::kMachineCommandPrefix)) Submit(1);
            return;
        case rpc::kMachineServiceAbort:
            if (!RequireLength(rpc::kMachineAbortRequest)) return;
            return Answer(CvMachineService_AbortCommand(UID(0), client_.uid, UID(1), &error), error, nullptr, 0);
        case rpc::kGetResourceInfo: {
            if (!RequireLength(4)) return;
            CvResourceInfo info{};
            return Answer(CvResource_GetInfo(UID(0), &info, &error), error, &info, sizeof info);
        }
        case rpc::kGetResourceServiceList: {
            if (!RequireLength(4)) return;
            auto list = std::make_unique<CvUIDList>();
            return Answer(CvResource_GetServiceList(UID(0), list.get(), &error), error, list.get(), sizeof *list);
        }
        case rpc::kResourceServiceGetInfo: {
            if (!RequireLength(8)) return;
            CvServiceInfo info{};
            return Answer(CvResourceService_GetInfo(UID(0), UID(1), &info, &error), error, &info, sizeof info);
        }
        case rpc::kResourceServiceExecute:
            if (RequireCommandLength(rpc::kResourceCommandPrefix)) Execute(2);
            return;
        case rpc::kResourceServiceSubmit:
            if (RequireCommandLength(rpc::kResourceCommandPrefix)) Submit(2);
            return;
        case rpc::kResourceServiceAbort:
            if (!RequireLength(rpc::kResourceAbortRequest)) return;
            return Answer(CvResourceService_AbortCommand(UID(0), UID(1), client_.uid, UID(2), &error), error, nullptr,
                          0);
        default: Violation("Unknown RPC call: %d; disconnecting misbehaving client", call_); return;
    }
}

}  // namespace

void HandleCall(Client& client, uint8_t call, uint32_t ticket, uint8_t* payload, size_t length) {
    Request(client, call, ticket, payload, length).Handle();
}

}  // namespace cvpl_tcpip::server
