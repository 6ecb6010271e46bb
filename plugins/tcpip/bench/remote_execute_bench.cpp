// What a remote execute costs over loopback, next to a plain TCP echo of the
// same byte counts, and what the server costs while its clients are idle.
//
// One process plays both ends: it loads cvpl-tcpip, serves a trivial resource
// service with the server and reaches it through a "cv-tcpip" machine.
//
// The machines this runs on are shared and noisy, so by default every
// benchmark is repeated nine times in random interleaved order, and the closing
// lines compare the medians: remote execute throughput at 128 KiB as a share of
// the echo's, and remote execute latency without data as a multiple of the
// echo's.
#include <benchmark/benchmark.h>
#include <corvane.h>

#include <arpa/inet.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rpc_protocol.h"

namespace {

constexpr uint32_t kBulk = 128 * 1024;
// Bytes of a resource execute on the wire without data: header, two UIDs and
// the command out; header and the command back.
constexpr int kRequestBytes = 12 + 8 + 56;
constexpr int kResponseBytes = 12 + 56;

int TrivialExecute(void*, CvCommand* command, CvError* error) {
    command->result = command->function;
    return CvSetNoError(error);
}

void Check(int ok, const CvError& error, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "%s failed: %s\n", what, error.message);
    std::exit(1);
}

std::atomic<int> g_port{0};

void CatchPort(void*, int, const char* message) {
    int port = 0;
    if (std::sscanf(message, "Server listening on port %d", &port) == 1) g_port = port;
}
CvLogListener g_portListener{nullptr, CatchPort};

struct Remote {
    CvUID server = CV_UID_NONE;
    CvUID resource = CV_UID_NONE;
    CvUID service = CV_UID_NONE;
    CvUID machine = CV_UID_NONE;
};

Remote& Setup() {
    static Remote remote = [] {
        Remote r;
        CvInitialize();
        CvLogEventManager_AddListener(&g_portListener);
        CvError error{};
        CvUID plugin = CV_UID_NONE;
        Check(CvPluginManager_Load("cvpl-tcpip", nullptr, &plugin, &error), error, "Loading cvpl-tcpip");

        CvResourceDescriptor resource{};
        std::strcpy(resource.info.name, "bench:0");
        std::strcpy(resource.typeInfo.typeName, "bench/drive");
        Check(CvResourceManager_Register(&resource, &r.resource, &error), error, "Registering the resource");
        CvServiceDescriptor service{};
        std::strcpy(service.info.type, "bench/device");
        service.execute = TrivialExecute;
        Check(CvResource_RegisterService(r.resource, &service, &r.service, &error), error, "Registering the service");

        Check(CvServerManager_LookupServer("cv-tcpip", &r.server, &error), error, "Finding the server");
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "ServerPort", "0");
        StringMap_SetValue(settings, "BroadcastPort", "0");
        Check(CvServer_Start(r.server, settings, &error), error, "Starting the server");
        StringMap_Destroy(settings);
        return r;
    }();
    return remote;
}

CvUID Machine() {
    Remote& r = Setup();
    if (r.machine == CV_UID_NONE) {
        CvError error{};
        const std::string url = "cv-tcpip://127.0.0.1:" + std::to_string(g_port.load());
        Check(CvMachineManager_CreateMachine(url.c_str(), &r.machine, &error), error, "Creating the machine");
        Check(CvMachine_Connect(r.machine, nullptr, &error), error, "Connecting");
    }
    return r.machine;
}

void RemoteExecute(benchmark::State& state) {
    const CvUID machine = Machine();
    const Remote& r = Setup();
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    CvError error{};
    for (auto _ : state) {
        CvCommand command{};
        command.function = 1;
        command.tag = CV_COMMAND_TAG_NONE;
        if (!data.empty()) {
            command.buffers[1] = data.data();
            command.bufferLengths[1] = static_cast<uint32_t>(data.size());
        }
        if (!CvResourceServiceProxy_ExecuteCommand(machine, r.resource, r.service, &command, &error)) {
            state.SkipWithError(error.message);
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(RemoteExecute)->Arg(0)->Arg(kBulk)->UseRealTime();

// The server alone: raw execute packets from a blocking client, no bridge.
void ServerRoundTrip(benchmark::State& state) {
    const Remote& r = Setup();
    namespace rpc = cvpl_tcpip::rpc;
    const int32_t s = SocketCreate(SOCKET_KIND_STREAM);
    InetAddress server{};
    InetIpStringToNum("127.0.0.1", &server.address);
    server.port = htons(static_cast<uint16_t>(g_port.load()));
    SocketConnect(s, server);
    uint8_t answer = 0;
    SocketSendAll(s, rpc::kHandshakeRequest, 2);
    SocketRecvAll(s, &answer, 1);

    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    CvCommand command{};
    command.function = 1;
    command.tag = CV_COMMAND_TAG_NONE;
    command.buffers[1] = data.empty() ? nullptr : data.data();
    command.bufferLengths[1] = static_cast<uint32_t>(data.size());
    const auto packet = rpc::PacketBuilder(rpc::kCall, rpc::kResourceServiceExecute)
                            .U32(r.resource)
                            .U32(r.service)
                            .CommandWithData(command)
                            .Finish();
    std::vector<uint8_t> response(rpc::kHeaderSize + rpc::kCommandSize + data.size());
    for (auto _ : state) {
        SocketSendAll(s, packet.data(), static_cast<int>(packet.size()));
        if (SocketRecvAll(s, response.data(), static_cast<int>(response.size())) != static_cast<int>(response.size())) {
            state.SkipWithError("no answer");
            break;
        }
    }
    SocketDestroy(s);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(ServerRoundTrip)->Arg(0)->Arg(kBulk)->UseRealTime();

// A connected loopback pair with an echo thread that answers every request of
// `request` bytes with `response` bytes.
void TcpEcho(benchmark::State& state) {
    Setup();
    const int request = kRequestBytes + static_cast<int>(state.range(0));
    const int response = kResponseBytes + static_cast<int>(state.range(0));
    const int32_t listener = SocketCreate(SOCKET_KIND_STREAM);
    InetAddress loopback{};
    InetIpStringToNum("127.0.0.1", &loopback.address);
    SocketBind(listener, loopback);
    SocketListen(listener, 1);
    InetAddress bound{};
    SocketGetLocalAddress(listener, &bound);
    const int32_t client = SocketCreate(SOCKET_KIND_STREAM);
    SocketConnect(client, bound);
    const int32_t peer = SocketAccept(listener, nullptr);
    SocketDestroy(listener);

    std::thread echo([&] {
        std::vector<uint8_t> buffer(static_cast<size_t>(std::max(request, response)));
        while (SocketRecvAll(peer, buffer.data(), request) == request) {
            if (SocketSendAll(peer, buffer.data(), response) != response) break;
        }
    });
    std::vector<uint8_t> out(static_cast<size_t>(request)), in(static_cast<size_t>(response));
    for (auto _ : state) {
        SocketSendAll(client, out.data(), request);
        SocketRecvAll(client, in.data(), response);
    }
    SocketDestroy(client);
    echo.join();
    SocketDestroy(peer);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(TcpEcho)->Arg(0)->Arg(kBulk)->UseRealTime();

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Ten handshaken clients that send nothing; CPU share of the whole process
// over one second (the benchmark's own thread sleeps).
void ServerIdleCpu(benchmark::State& state) {
    Setup();
    std::vector<int32_t> clients;
    InetAddress server{};
    InetIpStringToNum("127.0.0.1", &server.address);
    server.port = htons(static_cast<uint16_t>(g_port.load()));
    for (int i = 0; i < 10; ++i) {
        const int32_t s = SocketCreate(SOCKET_KIND_STREAM);
        SocketConnect(s, server);
        const uint8_t version[2] = {0x00, 0x01};
        uint8_t answer = 0;
        SocketSendAll(s, version, 2);
        SocketRecvAll(s, &answer, 1);
        clients.push_back(s);
    }
    double share = 0;
    for (auto _ : state) {
        const double before = ProcessCpuSeconds();
        CrtSleepMili(1000);
        share = ProcessCpuSeconds() - before;
    }
    state.counters["cpu_percent"] = share * 100.0;
    for (int32_t s : clients) SocketDestroy(s);
}
BENCHMARK(ServerIdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// For comparison: ten workers polling their socket every 50 microseconds, as a
// server that sleeps between zero-time-out checks would.
void PollingWorkersIdleCpu(benchmark::State& state) {
    const int32_t s = SocketCreate(SOCKET_KIND_DATAGRAM);
    double share = 0;
    for (auto _ : state) {
        std::atomic<bool> stop{false};
        std::vector<std::thread> workers;
        const double before = ProcessCpuSeconds();
        for (int i = 0; i < 10; ++i)
            workers.emplace_back([&] {
                while (!stop.load()) {
                    SocketIsReadable(s);
                    CrtSleepMicro(50);
                }
            });
        CrtSleepMili(1000);
        stop = true;
        for (auto& worker : workers) worker.join();
        share = ProcessCpuSeconds() - before;
    }
    state.counters["cpu_percent"] = share * 100.0;
    SocketDestroy(s);
}
BENCHMARK(PollingWorkersIdleCpu)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The console output as usual, and the real time of every repetition by
// benchmark ("RemoteExecute/131072"), for the comparison at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal.
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            if (run.run_type == Run::RT_Iteration)
                times_[name].push_back({run.repetition_index, run.GetAdjustedRealTime()});
            else if (run.aggregate_name == "median")
                medians_[name] = run.GetAdjustedRealTime();  // all there is with --benchmark_report_aggregates_only
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // Prints one comparison; false when either benchmark did not run.
    bool Compare(const char* what, const std::string& remote, const std::string& echo, bool throughput) const {
        const double r = Median(remote);
        const double e = Median(echo);
        if (r <= 0 || e <= 0) return false;
        // Each repetition of the one against the same repetition of the other.
        std::vector<double> paired;
        const auto remoteRuns = times_.find(remote);
        const auto echoRuns = times_.find(echo);
        if (remoteRuns != times_.end() && echoRuns != times_.end()) {
            for (const auto& [index, time] : remoteRuns->second)
                for (const auto& [otherIndex, otherTime] : echoRuns->second)
                    if (otherIndex == index && time > 0)
                        paired.push_back(throughput ? otherTime / time : time / otherTime);
        }
        std::sort(paired.begin(), paired.end());
        const double ratio = throughput ? e / r : r / e;
        std::printf("%-46s %6.3f  (medians: remote %.1f us, echo %.1f us", what, ratio, r / 1000, e / 1000);
        if (!paired.empty()) std::printf("; median of %zu paired runs %.3f", paired.size(), paired[paired.size() / 2]);
        std::printf(")\n");
        return true;
    }

private:
    double Median(const std::string& name) const {
        const auto found = times_.find(name);
        if (found == times_.end() || found->second.empty()) {
            const auto median = medians_.find(name);
            return median == medians_.end() ? 0 : median->second;
        }
        std::vector<double> values;
        for (const auto& entry : found->second) values.push_back(entry.second);
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }

    std::map<std::string, std::vector<std::pair<int64_t, double>>> times_;
    std::map<std::string, double> medians_;
};

bool HasFlag(int argc, char** argv, const char* flag) {
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> arguments(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=9";
    std::string interleaving = "--benchmark_enable_random_interleaving=true";
    if (!HasFlag(argc, argv, "--benchmark_repetitions")) arguments.push_back(repetitions.data());
    if (!HasFlag(argc, argv, "--benchmark_enable_random_interleaving")) arguments.push_back(interleaving.data());
    int count = static_cast<int>(arguments.size());
    arguments.push_back(nullptr);
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\n");
    const std::string bulk = std::to_string(kBulk);
    reporter.Compare("Remote execute throughput / TCP echo, 128 KiB", "RemoteExecute/" + bulk, "TcpEcho/" + bulk,
                     true);
    reporter.Compare("Remote execute latency / TCP echo, no data", "RemoteExecute/0", "TcpEcho/0", false);
    reporter.Compare("Server alone throughput / TCP echo, 128 KiB", "ServerRoundTrip/" + bulk, "TcpEcho/" + bulk,
                     true);
    reporter.Compare("Server alone latency / TCP echo, no data", "ServerRoundTrip/0", "TcpEcho/0", false);
    benchmark::Shutdown();
    return 0;
}
