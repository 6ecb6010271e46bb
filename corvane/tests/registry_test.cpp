// The registry discipline shared by every manager, driven with test entries.
#include <corvane.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <latch>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/never_destroyed.h"
#include "poll_watch.h"
#include "log_capture.h"
#include "registry/registry.h"

namespace {

// CrtSleepMicro comes from poll_watch.cpp, so the tests can see when a disposal
// or a shut-down is waiting for a call to drain.
corvane_test::PollWatch& g_polls = corvane_test::Polls();

}  // namespace

namespace {

using corvane::CountSet;
using corvane::DisposalTarget;
using corvane::EntryTable;
using corvane::Registry;
using corvane::RegistryEntry;
using corvane::RegistryMessages;
using corvane_test::LogCapture;
using corvane_test::LogLine;

constexpr RegistryMessages kWidgetMessages = {
    "Widget manager is uninitialized",
    "Widget with UID %d was not found",
    "Widget with UID %d is being disposed",
    "Error while disposing of widget (%d:'%s') while unitializing the widget manager: %s",
};

struct Widget : RegistryEntry {
    std::string name;
    std::function<int(CvError*)> dispose = [](CvError* error) { return CvSetNoThreadError(error); };
};

using Widgets = Registry<Widget>;

std::unique_ptr<Widget> MakeWidget(std::string name)
{
    auto widget = std::make_unique<Widget>();
    widget->name = std::move(name);
    return widget;
}

int DisposeWidget(Widget& widget, CvError* error) { return widget.dispose(error); }

// The table text with its %d filled in.
std::string Format(std::string text, CvUID uid)
{
    text.replace(text.find("%d"), 2, std::to_string(static_cast<int>(uid)));
    return text;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CvLogEventManager_Initialize();
        widgets.initialize();
    }
    void TearDown() override
    {
        CvError error;
        widgets.uninitialize(&error, [](Widget&) {});
        CvLogEventManager_Uninitialize();
    }

    CvUID add(const std::string& name)
    {
        CvError error;
        const CvUID uid = widgets.add(MakeWidget(name), &error);
        EXPECT_NE(CV_UID_NONE, uid);
        return uid;
    }
    std::vector<CvUID> listed()
    {
        CvUIDList list;
        CvError error;
        EXPECT_EQ(1, widgets.list(&list, &error));
        return std::vector<CvUID>(list.uids, list.uids + list.count);
    }
    int callNoop(CvUID uid, CvError* error)
    {
        return widgets.call(uid, error, [](Widget&) { return 1; });
    }

    Widgets widgets{kWidgetMessages};
};

TEST(RegistryDown, RefusesEveryCallBeforeInitialize)
{
    Widgets widgets{kWidgetMessages};
    CvError error;
    CvUIDList list;
    list.count = 99;
    EXPECT_EQ(0, widgets.list(&list, &error));
    EXPECT_EQ(0, list.count);
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Widget manager is uninitialized", error.message);

    EXPECT_EQ(0, widgets.call(3, &error, [](Widget&) { return 1; }));
    EXPECT_STREQ("Widget manager is uninitialized", error.message);

    CvUID found = 0;
    EXPECT_EQ(0, widgets.lookup(&found, &error, [](const Widget&) { return true; }));
    EXPECT_EQ(CV_UID_NONE, found);
    EXPECT_EQ(0, widgets.lookup(&found, &error, [](const Widget&) { return true; }, "Widget serivec is down"));
    EXPECT_STREQ("Widget serivec is down", error.message);

    EXPECT_EQ(CV_UID_NONE, widgets.add(MakeWidget("w"), &error));
    EXPECT_EQ(nullptr, widgets.unregister(1, &error, DisposeWidget));
    EXPECT_EQ(0, widgets.uninitialize(&error, [](Widget&) {}));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_STREQ("Widget manager is uninitialized", error.message);
}

TEST_F(RegistryTest, RegistersListsAndLooksUpInRegistrationOrder)
{
    const CvUID a = add("alpha");
    const CvUID b = add("beta");
    const CvUID c = add("alpha");
    EXPECT_EQ(a + 1, b);
    EXPECT_EQ(b + 1, c);
    EXPECT_EQ(listed(), (std::vector<CvUID>{a, b, c}));

    CvError error;
    CvUID found = 0;
    EXPECT_EQ(1, widgets.lookup(&found, &error, [](const Widget& w) { return w.name == "alpha"; }));
    EXPECT_EQ(a, found);
    EXPECT_EQ(1, widgets.lookup(&found, &error, [](const Widget& w) { return w.name == "ALPHA"; }));
    EXPECT_EQ(CV_UID_NONE, found);
    EXPECT_EQ(0, error.code);
}

TEST(RegistryField, ComparesFixedWidthFieldsByteWise)
{
    const char full[4] = {'a', 'b', 'c', 'd'};  // no terminator when the field is full
    EXPECT_TRUE(corvane::FieldEquals(full, "abcd"));
    EXPECT_TRUE(corvane::FieldEquals(full, "abcdef"));  // only the field's width counts
    EXPECT_FALSE(corvane::FieldEquals(full, "ABCD"));
    const char shortName[8] = "ata";
    const std::string longer = "ata/device";
    EXPECT_TRUE(corvane::FieldEquals(shortName, "ata"));
    EXPECT_FALSE(corvane::FieldEquals(shortName, longer.c_str()));
    EXPECT_FALSE(corvane::FieldEquals(shortName, nullptr));
}

TEST_F(RegistryTest, CopiesInfoOrZeroFillsIt)
{
    const CvUID uid = add("gamma");
    CvError error;
    char info[16];
    EXPECT_EQ(1, widgets.copyInfo(uid, info, 6, &error, [](const Widget& w) { return w.name.c_str(); }));
    EXPECT_STREQ("gamma", info);

    std::memset(info, 'x', sizeof info);
    EXPECT_EQ(0, widgets.copyInfo(uid + 100, info, sizeof info, &error, [](const Widget& w) { return w.name.c_str(); }));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_EQ(Format("Widget with UID %d was not found", uid + 100), error.message);
    for (char byte : info) EXPECT_EQ('\0', byte);
}

TEST_F(RegistryTest, AddRunsTheCheckAndTheRegisteredHookUnderTheMutex)
{
    add("taken");
    CvError error;
    const auto refuseDuplicateOf = [](std::string name) {
        return [name](const EntryTable<Widget>& table, CvError* err) {
            if (table.findFirst([&](const Widget& w) { return w.name == name; }) == nullptr) return true;
            return CvSetThreadError(err, CV_ERROR_FAILED, "Widget named '%s' already exists", name.c_str()) != 0;
        };
    };
    CvUID seen = CV_UID_NONE;
    EXPECT_EQ(CV_UID_NONE, widgets.add(MakeWidget("taken"), &error, refuseDuplicateOf("taken"),
                                       [&](Widget& w) { seen = w.uid; }));
    EXPECT_STREQ("Widget named 'taken' already exists", error.message);
    EXPECT_EQ(CV_UID_NONE, seen);

    const CvUID uid =
        widgets.add(MakeWidget("fresh"), &error, refuseDuplicateOf("fresh"), [&](Widget& w) { seen = w.uid; });
    EXPECT_NE(CV_UID_NONE, uid);
    EXPECT_EQ(uid, seen);
    EXPECT_EQ(0, error.code);
}

TEST_F(RegistryTest, ListNeverWritesPastItsCapacity)
{
    std::vector<CvUID> added;
    for (int i = 0; i < CV_UID_LIST_CAPACITY + 5; ++i) added.push_back(add("w"));
    struct {
        CvUIDList list;
        unsigned char guard[64];
    } room;
    std::memset(&room, 0xAB, sizeof room);
    CvError error;
    ASSERT_EQ(1, widgets.list(&room.list, &error));
    EXPECT_EQ(CV_UID_LIST_CAPACITY, room.list.count);
    EXPECT_TRUE(std::equal(room.list.uids, room.list.uids + CV_UID_LIST_CAPACITY, added.begin()));
    for (unsigned char byte : room.guard) EXPECT_EQ(0xAB, byte);
}

TEST_F(RegistryTest, CallClearsTheErrorAndReturnsTheOwnersResult)
{
    const CvUID uid = add("delta");
    CvError error;
    CvSetThreadError(&error, 3, "stale");
    EXPECT_EQ(1, widgets.call(uid, &error, [&](Widget& w) {
        EXPECT_EQ("delta", w.name);
        EXPECT_EQ(0, error.code);
        return 1;
    }));
    EXPECT_EQ(0, widgets.call(uid, &error, [&](Widget&) { return CvSetThreadError(&error, 4, "refused"); }));
    EXPECT_EQ(4, error.code);
    EXPECT_STREQ("refused", error.message);

    EXPECT_EQ(0, callNoop(uid + 7, &error));
    EXPECT_EQ(CV_ERROR_NOT_FOUND, error.code);
    EXPECT_EQ(Format("Widget with UID %d was not found", uid + 7), error.message);
}

TEST_F(RegistryTest, UnregisterWaitsForACallInFlight)
{
    const CvUID uid = add("busy");
    std::vector<std::string> events;
    std::mutex eventsMutex;
    const auto record = [&](const char* what) {
        std::lock_guard lock(eventsMutex);
        events.emplace_back(what);
    };
    std::latch inside(1), release(1);

    std::jthread caller([&] {
        CvError error;
        widgets.call(uid, &error, [&](Widget&) {
            inside.count_down();
            release.wait();
            record("call returned");
            return 1;
        });
    });
    inside.wait();

    const int pollsBefore = g_polls.count();
    std::jthread remover([&] {
        CvError error;
        auto gone = widgets.unregister(uid, &error, [&](Widget&, CvError* err) {
            record("disposed");
            return CvSetNoThreadError(err);
        });
        EXPECT_NE(nullptr, gone);
    });
    g_polls.waitFor(pollsBefore + 1);  // the remover found the widget busy
    {
        std::lock_guard lock(eventsMutex);
        EXPECT_TRUE(events.empty());
    }
    release.count_down();
    caller.join();
    remover.join();
    EXPECT_EQ(events, (std::vector<std::string>{"call returned", "disposed"}));
    EXPECT_TRUE(listed().empty());
}

TEST_F(RegistryTest, CallsOnAWidgetBeingDisposedFail)
{
    const CvUID uid = add("going");
    std::latch disposing(1), finish(1);
    std::jthread remover([&] {
        CvError error;
        widgets.unregister(uid, &error, [&](Widget&, CvError* err) {
            disposing.count_down();
            finish.wait();
            return CvSetNoThreadError(err);
        });
    });
    disposing.wait();
    CvError error;
    EXPECT_EQ(0, callNoop(uid, &error));
    EXPECT_EQ(CV_ERROR_FAILED, error.code);
    EXPECT_EQ(Format("Widget with UID %d is being disposed", uid), error.message);
    EXPECT_EQ(nullptr, widgets.unregister(uid, &error, DisposeWidget));
    EXPECT_EQ(Format("Widget with UID %d is being disposed", uid), error.message);
    finish.count_down();
}

TEST_F(RegistryTest, FailedDisposeKeepsTheWidgetUsable)
{
    const CvUID uid = add("stubborn");
    CvError error;
    EXPECT_EQ(nullptr, widgets.unregister(uid, &error, [](Widget&, CvError* err) {
        return CvSetThreadError(err, CV_ERROR_FAILED, "still in use");
    }));
    EXPECT_STREQ("still in use", error.message);
    EXPECT_EQ(listed(), std::vector<CvUID>{uid});
    EXPECT_EQ(1, callNoop(uid, &error));

    auto gone = widgets.unregister(uid, &error, DisposeWidget);
    ASSERT_NE(nullptr, gone);
    EXPECT_EQ("stubborn", gone->name);
    EXPECT_TRUE(listed().empty());
}

TEST_F(RegistryTest, SubmittedCommandsHoldOffDisposalUntilCompleted)
{
    const CvUID uid = add("submitter");
    CvError error;
    // A refused submit leaves nothing pending.
    EXPECT_EQ(0, widgets.submit(uid, &error, [&](Widget&) { return CvSetThreadError(&error, 2, "no"); }));
    EXPECT_EQ(1, widgets.submit(uid, &error, [](Widget&) { return 1; }));

    std::latch disposed(1);
    const int pollsBefore = g_polls.count();
    std::jthread remover([&] {
        CvError err;
        EXPECT_NE(nullptr, widgets.unregister(uid, &err, DisposeWidget));
        disposed.count_down();
    });
    g_polls.waitFor(pollsBefore + 1);  // waiting for the outstanding command
    EXPECT_FALSE(disposed.try_wait());
    widgets.completeCommand(uid);
    remover.join();
    EXPECT_TRUE(listed().empty());
}

TEST_F(RegistryTest, CompletionNoticesForUnknownWidgetsAreLogged)
{
    LogCapture log;
    widgets.completeCommand(424242);
    Widgets down{kWidgetMessages};
    down.completeCommand(1);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                               {1, "Widget with UID 424242 was not found when doing command complete notify"},
                               {1, "Widget manager is uninitialized when doing command complete notify"},
                           }));
}

TEST_F(RegistryTest, UninitializeDisposesOldestFirstAndLogsFailures)
{
    add("first");
    const CvUID second = add("second");
    add("third");
    CvError error;
    ASSERT_EQ(1, widgets.call(second, &error, [](Widget& w) {
        w.dispose = [](CvError* err) { return CvSetThreadError(err, CV_ERROR_FAILED, "refused"); };
        return 1;
    }));

    LogCapture log;
    std::vector<std::string> order;
    ASSERT_EQ(1, widgets.uninitialize(&error, [&](Widget& w) {
        order.push_back(w.name);
        widgets.disposeOrLog(w, w.name.c_str(), w.dispose);
    }));
    EXPECT_EQ(0, error.code);
    EXPECT_EQ(order, (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(log.lines(),
              (std::vector<LogLine>{
                  {1, "Error while disposing of widget (" + std::to_string(second) +
                          ":'second') while unitializing the widget manager: refused"},
              }));
    EXPECT_EQ(0, callNoop(second, &error));
    EXPECT_STREQ("Widget manager is uninitialized", error.message);
    widgets.initialize();  // for TearDown
}

TEST_F(RegistryTest, UninitializeWaitsForACallInFlight)
{
    const CvUID uid = add("late");
    std::latch inside(1), release(1);
    bool callReturned = false;
    std::jthread caller([&] {
        CvError error;
        widgets.call(uid, &error, [&](Widget&) {
            inside.count_down();
            release.wait();
            callReturned = true;
            return 1;
        });
    });
    inside.wait();

    const int pollsBefore = g_polls.count();
    bool disposedAfterCall = false;
    std::jthread stopper([&] {
        CvError error;
        EXPECT_EQ(1, widgets.uninitialize(&error, [&](Widget&) { disposedAfterCall = callReturned; }));
    });
    g_polls.waitFor(pollsBefore + 1);
    release.count_down();
    stopper.join();
    EXPECT_TRUE(disposedAfterCall);
    widgets.initialize();  // for TearDown
}

// Two levels, as resources and their services use it: while one child is being
// disposed its parent counts as busy, so the parent's own disposal waits.
struct Child : RegistryEntry {};
struct Parent : RegistryEntry {
    EntryTable<Child> children;
};

TEST(RegistryNested, ParentWaitsWhileAChildIsDisposed)
{
    Registry<Parent> parents{kWidgetMessages};
    parents.initialize();
    CvError error;
    const CvUID parentUid = parents.add(std::make_unique<Parent>(), &error);
    CvUID childUid = CV_UID_NONE;
    {
        auto held = parents.lock();
        auto child = std::make_unique<Child>();
        child->uid = childUid = CvNextUID();
        parents.find(held, parentUid, &error)->children.insert(std::move(child));
    }

    std::vector<std::string> events;
    std::mutex eventsMutex;
    const auto record = [&](const char* what) {
        std::lock_guard lock(eventsMutex);
        events.emplace_back(what);
    };
    std::latch disposing(1), finish(1);
    std::jthread childRemover([&] {
        CvError err;
        auto gone = parents.disposeWhenIdle(
            &err,
            [&](Registry<Parent>::Lock& held, CvError* e) {
                Parent* parent = parents.find(held, parentUid, e);
                if (parent == nullptr) return DisposalTarget<Child>{};
                return DisposalTarget<Child>{parent->children.find(childUid), CountSet{&parent->busy}};
            },
            [&](Child&, CvError* e) {
                disposing.count_down();
                finish.wait();
                record("child disposed");
                return CvSetNoThreadError(e);
            },
            [&](Registry<Parent>::Lock& held, Child& child) {
                return parents.find(held, parentUid, nullptr)->children.remove(child.uid);
            });
        EXPECT_NE(nullptr, gone);
    });
    disposing.wait();

    const int pollsBefore = g_polls.count();
    std::jthread parentRemover([&] {
        CvError err;
        EXPECT_NE(nullptr, parents.unregister(parentUid, &err, [&](Parent& p, CvError* e) {
            record(p.children.empty() ? "parent disposed without children" : "parent disposed with children");
            return CvSetNoThreadError(e);
        }));
    });
    g_polls.waitFor(pollsBefore + 1);
    finish.count_down();
    childRemover.join();
    parentRemover.join();
    EXPECT_EQ(events, (std::vector<std::string>{"child disposed", "parent disposed without children"}));
    EXPECT_EQ(1, parents.uninitialize(&error, [](Parent&) {}));
}

TEST(RegistryGlobal, ConstantInitialisedRegistryWorksBeforeAnythingStarts)
{
    static constinit corvane::NeverDestroyed<Widgets> early{kWidgetMessages};
    CvError error;
    EXPECT_EQ(0, early->call(0, &error, [](Widget&) { return 1; }));
    EXPECT_STREQ("Widget manager is uninitialized", error.message);
    early->initialize();
    EXPECT_NE(CV_UID_NONE, early->add(MakeWidget("w"), &error));
    early->initialize();  // a second start keeps what is registered
    CvUIDList list;
    early->list(&list, &error);
    EXPECT_EQ(1, list.count);
    EXPECT_EQ(1, early->uninitialize(&error, [](Widget&) {}));
}

}  // namespace
