// The simulated kernel for a whole program: preloaded into it, this library
// exports the seam's provider, so every pass-through plug-in the program loads
// reaches simulated drives instead of the kernel. The drives are read at the
// first call through the seam from the node table named by SIM_KERNEL_NODES,
// and keep their firmware in SIM_KERNEL_STATE_DIR (when set) so that a later
// run, or the test that started the program, sees what an update left.
//
// Problems are written to standard error and leave the table empty: the real
// kernel is never reached, whatever the table holds.
//
// SIM_KERNEL_FIRST_ANSWER_DELAY_MS makes the first SG_IO or NVMe admin request
// on each open descriptor take that many milliseconds, like drives that are
// slow to answer the first command they see (a pass-through plug-in's probe).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "node_table.h"
#include "sim_kernel.h"

namespace {

constexpr const char* kNodesVariable = "SIM_KERNEL_NODES";
constexpr const char* kStateVariable = "SIM_KERNEL_STATE_DIR";
constexpr const char* kDelayVariable = "SIM_KERNEL_FIRST_ANSWER_DELAY_MS";

void report(const std::string& problem) { std::fprintf(stderr, "simulated kernel: %s\n", problem.c_str()); }

void populate() {
    const char* table = std::getenv(kNodesVariable);
    if (table == nullptr || *table == '\0') {
        report(std::string(kNodesVariable) + " is not set: no device nodes");
        return;
    }
    std::ifstream file(table);
    if (!file) {
        report(std::string("cannot read node table '") + table + "'");
        return;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::vector<simdrive::NodeEntry> nodes;
    std::string error;
    if (!simdrive::parseNodeTable(text.str(), nodes, error)) {
        report(std::string("node table '") + table + "': " + error);
        return;
    }
    std::shared_ptr<const simdrive::StateStore> store;
    if (const char* state = std::getenv(kStateVariable); state != nullptr && *state != '\0')
        store = std::make_shared<const simdrive::StateStore>(state);
    simdrive::SimKernel& kernel = simdrive::SimKernel::instance();
    std::map<std::string, std::shared_ptr<simdrive::SimDrive>> byNode;
    for (const simdrive::NodeEntry& node : nodes) {
        if (!node.sameAs.empty()) {
            // A second node of a drive made on an earlier line.
            if (const auto found = byNode.find(node.sameAs); found != byNode.end()) {
                kernel.addNode(node.path, found->second);
                kernel.setQueueLimit(node.path, node.queueLimit);
            }
            continue;
        }
        std::shared_ptr<simdrive::SimDrive> drive = simdrive::createDrive(node.description, store, error);
        if (!drive) {
            report("node '" + node.path + "': " + error);
            continue;
        }
        for (const std::string& path : simdrive::nodePaths(node)) {
            kernel.addNode(path, drive);
            kernel.setQueueLimit(path, node.queueLimit);
        }
        if (node.usbBridge) kernel.setUsbBridge(node.path, *node.usbBridge);
        byNode[node.path] = drive;
    }
}


int answerDelayMs() {
    static const int delay = [] {
        const char* text = std::getenv(kDelayVariable);
        return text != nullptr ? std::max(0, std::atoi(text)) : 0;
    }();
    return delay;
}

// The simulated kernel never hands out a descriptor number twice.
void answerLateTheFirstTime(int fd) {
    static std::mutex mutex;
    static std::set<int> answered;
    {
        std::lock_guard lock(mutex);
        if (!answered.insert(fd).second) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMs()));
}

int lateSgIo(int fd, struct sg_io_hdr* request) {
    answerLateTheFirstTime(fd);
    return simdrive::SimKernel::ops()->sgIo(fd, request);
}

int lateNvmeAdmin(int fd, struct nvme_passthru_cmd* command) {
    answerLateTheFirstTime(fd);
    return simdrive::SimKernel::ops()->nvmeAdmin(fd, command);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const KernelIoOps* KernelIo_TestProvider(void) {
    static std::once_flag once;
    std::call_once(once, populate);
    if (answerDelayMs() == 0) return simdrive::SimKernel::ops();
    static const KernelIoOps late = [] {
        KernelIoOps ops = *simdrive::SimKernel::ops();
        ops.sgIo = lateSgIo;
        ops.nvmeAdmin = lateNvmeAdmin;
        return ops;
    }();
    return &late;
}
