// The framework with the remote access server registered and started on an
// ephemeral port, and the framework's log lines collected.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <corvane.h>

#include "log_capture.h"
#include "raw_client.h"
#include "server.h"

namespace tcpip_test {

// Lets a test wait for a log line that another thread writes.
class LogWaiter {
public:
    LogWaiter() { CvLogEventManager_AddListener(&listener_); }
    ~LogWaiter() { CvLogEventManager_RemoveListener(&listener_); }
    LogWaiter(const LogWaiter&) = delete;
    LogWaiter& operator=(const LogWaiter&) = delete;

    // The time-out only keeps a broken test from hanging.
    bool WaitFor(const std::string& message) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            return std::find(lines_.begin(), lines_.end(), message) != lines_.end();
        });
    }

private:
    static void Record(void* self, int, const char* message) {
        auto* waiter = static_cast<LogWaiter*>(self);
        std::lock_guard lock(waiter->mutex_);
        waiter->lines_.emplace_back(message);
        waiter->changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
    CvLogListener listener_{this, &LogWaiter::Record};
};

class ServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        CvInitialize();
        log_ = std::make_unique<corvane_test::LogCapture>();
        CvError error{};
        ASSERT_TRUE(cvpl_tcpip::RegisterServer(&error)) << error.message;
        ASSERT_TRUE(CvServerManager_LookupServer("cv-tcpip", &server_, &error)) << error.message;
        ASSERT_TRUE(Start(&error)) << error.message;
        port_ = cvpl_tcpip::ServerListeningPort();
        ASSERT_GT(port_, 0);
    }

    void TearDown() override {
        CvError error{};
        EXPECT_TRUE(cvpl_tcpip::UnregisterServer(&error)) << error.message;
        log_.reset();
        EXPECT_TRUE(CvUninitialize(&error)) << error.message;
    }

    // Starts with ephemeral ports plus the given extra setting.
    int Start(CvError* error, const char* key = nullptr, const char* value = nullptr) {
        StringMap* settings = StringMap_Create();
        StringMap_SetValue(settings, "ServerPort", "0");
        StringMap_SetValue(settings, "BroadcastPort", "0");
        if (key != nullptr) StringMap_SetValue(settings, key, value);
        const int ok = CvServer_Start(server_, settings, error);
        StringMap_Destroy(settings);
        return ok;
    }

    bool Logged(const std::string& message) const {
        const auto messages = log_->messages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }

    std::unique_ptr<RawClient> Connect() {
        auto client = std::make_unique<RawClient>(port_);
        EXPECT_TRUE(client->Connected());
        EXPECT_EQ(client->Handshake(), 0x01);
        return client;
    }

    std::unique_ptr<corvane_test::LogCapture> log_;
    CvUID server_ = CV_UID_NONE;
    int port_ = 0;
};

}  // namespace tcpip_test
