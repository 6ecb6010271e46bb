/* cvpl-test-services: a plug-in for tests only. Its settings (the INI section
 * named after it, or the StringMap handed to CvPluginManager_Load) choose what
 * its load entry point registers:
 *
 *   Resources        comma-separated resource names          default "test:0"
 *   ResourceType     type name of every resource             default "test/resource"
 *                    (type data: CvStrDup copy of the resource's name)
 *   Services         comma-separated service types, registered on every
 *                    resource in this order                  default "test/echo"
 *   MachineServices  comma-separated machine service types   default none
 *   AsyncCompletion  "immediate" or "held"                   default "immediate"
 *   ServerProtocol   protocol of a server to register        default none
 *   ServerName       that server's name                      default "Test Server"
 *
 * A service's behaviour follows its type:
 *   "test/async"  execute as below; submit accepts the command and completes it
 *                 on the plug-in's own worker thread (fills the completion's
 *                 error with the outcome of executing it, calls the completion
 *                 function, then notifies the framework). With
 *                 AsyncCompletion=held the worker keeps each command until
 *                 cvTestServices_CompleteHeld() or an abort of its tag (which
 *                 completes it with code 2 "Command with tag %u was aborted").
 *   "test/gate"   execute blocks until cvTestServices_OpenGate(), then runs as below.
 *   any other     execute as below.
 * Services other than "test/async" refuse submit ("Submitting commands not
 * supported") and abort ("Aborting commands not supported"), code 2.
 *
 * Execute, by function code:
 *   0  nothing; result byte 0
 *   1  copies buffer 0 into buffer 1 (the shorter length); result byte 0x5A
 *   2  fails with code 2 "Test failure requested"
 *   else fails with code 4 "Unsupported function code: %d"
 *
 * The server counts starts and keeps the settings of the last start; it has no
 * clients (empty list; client info fails with code 5).
 *
 * Unloading opens the gate, completes held commands, then unregisters the
 * server, the machine services and the resources (the framework disposes of
 * their services) and stops the worker thread. What a test removed itself
 * is skipped; any other refusal fails the unload with its error.
 *
 * Test hooks, exported with C linkage; find them with dlsym on a handle of
 * <build>/test-plugins/cvpl-test-services.so (TestServicesHooks below does it).
 * Their state starts afresh at every load. */
#ifndef CORVANE_TEST_SERVICES_H
#define CORVANE_TEST_SERVICES_H

#include <stdint.h>

#define TEST_SERVICES_PLUGIN_NAME "cvpl-test-services"

#define TEST_FUNCTION_NOTHING 0
#define TEST_FUNCTION_ECHO 1
#define TEST_FUNCTION_FAIL 2
#define TEST_ECHO_RESULT 0x5A

#ifdef __cplusplus
extern "C" {
#endif

/* Lets every gated execute return, those waiting and those to come. */
typedef void (*TestServicesOpenGateFunction)(void);
/* Blocks until this many executes in all have reached a gate since the load. */
typedef void (*TestServicesWaitGateEnteredFunction)(int32_t count);
/* Blocks until this many submitted commands are held at once. */
typedef void (*TestServicesWaitHeldFunction)(int32_t count);
/* Lets the worker complete every command held so far, in submission order. */
typedef void (*TestServicesCompleteHeldFunction)(void);
/* How often the server's start function ran since the load. */
typedef int32_t (*TestServicesServerStartCountFunction)(void);
/* Value of a key in the settings of the last start: 1 and the value (cut to
 * size), or 0 when absent. */
typedef int32_t (*TestServicesServerSettingFunction)(const char* key, char* value, int32_t size);
/* The journal since the load, one event a line, copied (cut to size, always
 * terminated); returns its full length. Events:
 *   "complete <service type> tag=<tag> code=<code>"  (before the completion function runs)
 *   "dispose service <resource name> <service type>"
 *   "dispose resource <resource name>"
 *   "dispose machine service <service type>"
 *   "dispose server <protocol>" */
typedef int32_t (*TestServicesJournalFunction)(char* text, int32_t size);

#ifdef __cplusplus
}

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

/* Maps the plug-in (before or after CvPluginManager_Load: the loader hands out
 * the same copy for the same path) and finds the hooks. Tests put
 * TestServicesHooks::Directory() on CORVANE_PLUGIN_PATH. */
class TestServicesHooks {
public:
    static std::string Directory()
    {
        const char* build = std::getenv("FIRMSTEP_BUILD_DIR");
        return std::string(build != nullptr ? build : ".") + "/test-plugins";
    }

    TestServicesHooks() : handle_(dlopen((Directory() + "/" TEST_SERVICES_PLUGIN_NAME ".so").c_str(), RTLD_NOW))
    {
        if (handle_ == nullptr) throw std::runtime_error(dlerror());
        find(openGate, "cvTestServices_OpenGate");
        find(waitGateEntered, "cvTestServices_WaitGateEntered");
        find(waitHeld, "cvTestServices_WaitHeld");
        find(completeHeld, "cvTestServices_CompleteHeld");
        find(serverStartCount, "cvTestServices_ServerStartCount");
        find(serverSetting, "cvTestServices_ServerSetting");
        find(journalFunction, "cvTestServices_GetJournal");
    }
    ~TestServicesHooks() { dlclose(handle_); }
    TestServicesHooks(const TestServicesHooks&) = delete;
    TestServicesHooks& operator=(const TestServicesHooks&) = delete;

    std::string journal() const
    {
        std::string text(static_cast<std::size_t>(journalFunction(nullptr, 0)) + 1, '\0');
        journalFunction(text.data(), static_cast<int32_t>(text.size()));
        text.pop_back();
        return text;
    }

    TestServicesOpenGateFunction openGate = nullptr;
    TestServicesWaitGateEnteredFunction waitGateEntered = nullptr;
    TestServicesWaitHeldFunction waitHeld = nullptr;
    TestServicesCompleteHeldFunction completeHeld = nullptr;
    TestServicesServerStartCountFunction serverStartCount = nullptr;
    TestServicesServerSettingFunction serverSetting = nullptr;
    TestServicesJournalFunction journalFunction = nullptr;

private:
    template <class Function>
    void find(Function& function, const char* name)
    {
        function = reinterpret_cast<Function>(dlsym(handle_, name));
        if (function == nullptr) throw std::runtime_error(std::string("missing test hook ") + name);
    }

    void* handle_;
};
#endif

#endif /* CORVANE_TEST_SERVICES_H */
