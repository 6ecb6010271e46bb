// What the framework's bookkeeping costs per command: one
// CvResourceServiceProxy_ExecuteCommand through a "cv-local" machine (machine
// manager -> local bridge -> resource manager -> service) against a direct
// call of the same service execute function.
#include <benchmark/benchmark.h>
#include <corvane.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The service: as little work as a command can be.
int TrivialExecute(void*, CvCommand* command, CvError* error)
{
    command->result = command->function;
    error->code = 0;
    return 1;
}

struct Setup {
    CvUID machine = CV_UID_NONE;
    CvUID resource = CV_UID_NONE;
    CvUID service = CV_UID_NONE;
};

Setup g_setup;

void Check(int result, const CvError& error, const char* what)
{
    if (result != 0) return;
    std::fprintf(stderr, "%s failed: %s\n", what, error.message);
    std::exit(1);
}

void BringUp()
{
    CvInitialize();
    CvError error;
    CvUID plugin = CV_UID_NONE;
    Check(CvPluginManager_Load("cvpl-local", nullptr, &plugin, &error), error, "Loading cvpl-local");

    CvResourceDescriptor resource;
    std::memset(&resource, 0, sizeof resource);
    std::strcpy(resource.info.name, "bench:0");
    std::strcpy(resource.typeInfo.typeName, "bench/drive");
    Check(CvResourceManager_Register(&resource, &g_setup.resource, &error), error, "Registering the resource");

    CvServiceDescriptor service;
    std::memset(&service, 0, sizeof service);
    std::strcpy(service.info.type, "bench/device");
    service.execute = TrivialExecute;
    Check(CvResource_RegisterService(g_setup.resource, &service, &g_setup.service, &error), error,
          "Registering the service");

    Check(CvMachineManager_CreateMachine("cv-local://localhost", &g_setup.machine, &error), error,
          "Creating the machine");
    Check(CvMachine_Connect(g_setup.machine, nullptr, &error), error, "Connecting the machine");
}

CvCommand MakeCommand()
{
    CvCommand command;
    std::memset(&command, 0, sizeof command);
    command.function = 7;
    command.tag = CV_COMMAND_TAG_NONE;
    return command;
}

void BM_DirectServiceCall(benchmark::State& state)
{
    CvServiceExecuteFunction execute = TrivialExecute;
    CvCommand command = MakeCommand();
    CvError error;
    for (auto _ : state) {
        benchmark::DoNotOptimize(execute);  // called through the pointer, as the framework does
        benchmark::DoNotOptimize(execute(nullptr, &command, &error));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DirectServiceCall);

// The resource manager alone, without a machine: where the time goes.
void BM_ResourceServiceExecute(benchmark::State& state)
{
    CvCommand command = MakeCommand();
    CvError error;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            CvResourceService_ExecuteCommand(g_setup.resource, g_setup.service, 0, &command, &error));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ResourceServiceExecute);

void BM_ProxyExecuteThroughLocalMachine(benchmark::State& state)
{
    CvCommand command = MakeCommand();
    CvError error;
    for (auto _ : state) {
        const int result = CvResourceServiceProxy_ExecuteCommand(g_setup.machine, g_setup.resource, g_setup.service,
                                                                 &command, &error);
        benchmark::DoNotOptimize(result);
        benchmark::ClobberMemory();
        if (result == 0) {
            state.SkipWithError(error.message);
            break;
        }
    }
}
BENCHMARK(BM_ProxyExecuteThroughLocalMachine);
// Two clients on one machine and one service: the managers' mutexes are shared.
BENCHMARK(BM_ProxyExecuteThroughLocalMachine)->Threads(2)->UseRealTime();

}  // namespace

int main(int argc, char** argv)
{
    BringUp();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CvError error;
    Check(CvUninitialize(&error), error, "Shutting down");
    return 0;
}
