// Stopping and disabling the chip maker's running loader service, on a fake service manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "fakes/service_manager_fake.h"
#include "platform/platform.h"
#include "service/dovrand_service.h"
#include "service/service_rig.h"

namespace {

namespace svc = platform::service;
using platform::fake::FakeService;
using platform::fake::FakeServiceManager;

FakeService Running(const std::wstring& name, const std::wstring& display = L"") {
    FakeService s;
    s.serviceName = name;
    s.displayName = display.empty() ? name + L" display" : display;
    s.state = svc::kRunning;
    return s;
}

FakeService Stopped(const std::wstring& name) {
    FakeService s = Running(name);
    s.state = svc::kStopped;
    return s;
}

struct DisableCase {
    const char* name;
    std::vector<FakeService> services;
    std::function<void(FakeServiceManager&)> script;
    bool result;
    std::wstring displayName;
    std::vector<std::wstring> disabled;  // services stopped and disabled afterwards
    std::vector<std::wstring> stopped;   // services stopped but not disabled
};

class DisableQdlServicesTest : public testing::TestWithParam<DisableCase> {};

TEST_P(DisableQdlServicesTest, FirstRunningLoaderOnly) {
    const DisableCase& c = GetParam();
    FakeServiceManager manager;
    for (const FakeService& s : c.services) {
        manager.AddService(s);
    }
    if (c.script) {
        c.script(manager);
    }
    platform::Platform p = platform::Get();
    p.services = &manager;
    platform::ScopedPlatform use(p);
    cDovrandService service;

    wchar_t displayName[platform::kMaxPath];
    displayName[0] = L'\0';
    EXPECT_EQ(service.DisableQdlServices(displayName), c.result);
    EXPECT_EQ(std::wstring(displayName), c.displayName);
    for (const FakeService& s : c.services) {
        const FakeService now = manager.Get(s.serviceName);
        auto listed = [&](const std::vector<std::wstring>& names) {
            return std::find(names.begin(), names.end(), s.serviceName) != names.end();
        };
        const bool disabled = listed(c.disabled);
        EXPECT_EQ(now.startType, disabled ? svc::kDisabled : s.startType) << now.serviceName;
        EXPECT_EQ(now.state, disabled || listed(c.stopped) ? svc::kStopped : s.state)
            << now.serviceName;
    }
    EXPECT_EQ(manager.OpenHandles(), 0);
}

// Names sort in the fake's enumeration order: a, b, qdlservice, qdlservice2k..., z.
INSTANTIATE_TEST_SUITE_P(
    Cases, DisableQdlServicesTest,
    testing::Values(
        DisableCase{"Gobi2000LoaderAnyCase",
                    {Running(L"a"), Running(L"qdlSERVICE2kLenovo", L"Lenovo Gobi 2000 Loader")},
                    nullptr,
                    true,
                    L"Lenovo Gobi 2000 Loader",
                    {L"qdlSERVICE2kLenovo"},
                    {}},
        DisableCase{"Gobi1000LoaderExactName",
                    {Running(L"QdlService", L"Gobi 1000 Loader")},
                    nullptr,
                    true,
                    L"Gobi 1000 Loader",
                    {L"QdlService"},
                    {}},
        DisableCase{"OtherNamesNotMatched",
                    {Running(L"QDLServiceX"), Running(L"QDLService2"), Running(L"xQDLService")},
                    nullptr,
                    false,
                    L"",
                    {},
                    {}},
        DisableCase{
            "StoppedLoaderNotFound", {Stopped(L"QDLService2kSony")}, nullptr, false, L"", {}, {}},
        DisableCase{"FirstMatchOnly",
                    {Running(L"QDLService", L"first"), Running(L"QDLService2kHP", L"second")},
                    nullptr,
                    true,
                    L"first",
                    {L"QDLService"},
                    {}},
        DisableCase{"SeveralBatches",
                    {Running(L"a"), Running(L"b"), Running(L"QDLService2kSony", L"Sony")},
                    [](FakeServiceManager& m) {
                        m.SetBatchSizes({1, 1, 1});
                    },
                    true,
                    L"Sony",
                    {L"QDLService2kSony"},
                    {}},
        DisableCase{"EmptyBatchAfterAServiceWasAdded",
                    {Running(L"b"), Running(L"QDLService2kSony", L"Sony")},
                    [](FakeServiceManager& m) {
                        m.SetBatchSizes({0});
                        m.AddServiceBeforeEnumCall(2, Running(L"a"));
                    },
                    true,
                    L"Sony",
                    {L"QDLService2kSony"},
                    {}},
        DisableCase{"EmptyBatchThatWouldNotGrowEndsTheSearch",
                    {Running(L"QDLService2kSony", L"Sony")},
                    [](FakeServiceManager& m) {
                        m.SetBatchSizes({0, 0, 0});
                    },
                    false,
                    L"",
                    {},
                    {}},
        DisableCase{"DisplayNameCutToItsBuffer",
                    {Running(L"QDLService2k", std::wstring(300, L'd'))},
                    nullptr,
                    true,
                    std::wstring(259, L'd'),
                    {L"QDLService2k"},
                    {}},
        DisableCase{"ManagerNotOpened",
                    {Running(L"QDLService")},
                    [](FakeServiceManager& m) { m.script().Fail("OpenSCManagerW", 5); },
                    false,
                    L"",
                    {},
                    {}},
        DisableCase{"SizeQueryFails",
                    {Running(L"QDLService")},
                    [](FakeServiceManager& m) { m.script().Fail("EnumServicesStatusW", 5); },
                    false,
                    L"",
                    {},
                    {}},
        DisableCase{"BatchFails",
                    {Running(L"QDLService")},
                    [](FakeServiceManager& m) { m.script().Fail("EnumServicesStatusW", 5, 1, 1); },
                    false,
                    L"",
                    {},
                    {}},
        DisableCase{"ServiceNotOpened",
                    {Running(L"QDLService", L"loader")},
                    [](FakeServiceManager& m) { m.script().Fail("OpenServiceW", 5); },
                    false,
                    L"loader",
                    {},
                    {}},
        DisableCase{"NotDisabled",
                    {Running(L"QDLService", L"loader")},
                    [](FakeServiceManager& m) { m.script().Fail("ChangeServiceConfigW", 5); },
                    false,
                    L"loader",
                    {},
                    {L"QDLService"}}),
    [](const testing::TestParamInfo<DisableCase>& info) { return info.param.name; });

// The enumeration asks for the Win32 services (type 0x30: own process 0x10 and shared process
// 0x20, no drivers) in the active state (1): in name order a running driver, a stopped
// own-process service and a running shared-process one, all named as loaders; only the last
// is found. The manager is opened with SC_MANAGER_ALL_ACCESS, the service with SERVICE_STOP |
// SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS.
TEST(DisableQdlServicesTest, EnumeratesRunningWin32ServicesWithAllAccess) {
    FakeServiceManager manager;
    FakeService driver = Running(L"QDLService", L"driver");
    driver.serviceType = 0x1;  // SERVICE_KERNEL_DRIVER
    manager.AddService(driver);
    FakeService stopped = Running(L"QDLService2kA", L"stopped");
    stopped.serviceType = 0x10;
    stopped.state = 1;  // SERVICE_STOPPED
    manager.AddService(stopped);
    FakeService shared = Running(L"QDLService2kB", L"shared");
    shared.serviceType = 0x20;
    shared.state = 4;  // SERVICE_RUNNING
    manager.AddService(shared);
    platform::Platform p = platform::Get();
    p.services = &manager;
    platform::ScopedPlatform use(p);
    cDovrandService service;
    wchar_t displayName[platform::kMaxPath];
    EXPECT_TRUE(service.DisableQdlServices(displayName));
    EXPECT_EQ(std::wstring(displayName), L"shared");
    EXPECT_EQ(manager.Get(L"QDLService2kB").startType, 4u);  // SERVICE_DISABLED
    EXPECT_EQ(manager.Get(L"QDLService").state, 4u);
    EXPECT_EQ(manager.AccessRequested(), (std::vector<uint32_t>{0xF003F, 0x26}));
}

// In the service, the stopped loader is followed until it reports STOPPED (polled every 250 ms,
// at most 40 times) before the start-time attempt searches for the card; a stop of this service
// or a status that cannot be read ends the wait at once.
struct AwaitCase {
    const char* name;
    std::vector<uint32_t> statesAfterStop;  // what the loader's status queries report
    bool stopDuringTheWait;
    int queries;
    uint32_t stateAtTheSearch;
    bool queryFails = false;
};

class AwaitLoaderStoppedTest : public testing::TestWithParam<AwaitCase> {};

TEST_P(AwaitLoaderStoppedTest, BeforeTheFirstSearch) {
    const AwaitCase& c = GetParam();
    service_test::ServiceRig rig;
    FakeService loader = Running(L"QDLService2kLenovo", L"Lenovo Gobi 2000 Loader");
    loader.statesAfterStop = c.statesAfterStop;
    rig.services.AddService(loader);
    if (c.queryFails) {
        rig.services.script().Fail("QueryServiceStatus", 5);
    }
    rig.sync.HoldWaits(250);
    if (!c.stopDuringTheWait) {
        rig.sync.ExpireHeldWaits(40);
    }
    std::atomic<uint32_t> atSearch{0};
    rig.devices.script().OnCall("SetupDiGetClassDevsW",
                                [&] { atSearch = rig.services.Get(L"QDLService2kLenovo").state; });
    rig.Start();
    if (c.stopDuringTheWait) {
        ASSERT_TRUE(rig.sync.AwaitHeldWaits(1, service_test::ServiceRig::kRealTimeoutMs));
    } else {
        ASSERT_TRUE(rig.AwaitRunning());
    }
    rig.Send(1);  // SERVICE_CONTROL_STOP
    rig.Join();
    EXPECT_EQ(rig.services.script().Calls("QueryServiceStatus"), c.queries);
    EXPECT_EQ(atSearch.load(), c.stateAtTheSearch);
    EXPECT_EQ(rig.services.Get(L"QDLService2kLenovo").startType, 4u);  // disabled all the same
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AwaitLoaderStoppedTest,
    testing::Values(AwaitCase{"StoppedAtOnce", {}, false, 0, 1},
                    AwaitCase{"StoppedAtTheSecondPoll", {3, 1}, false, 2, 1},
                    AwaitCase{"NeverStoppedGivenTenSeconds", {3}, false, 40, 3},
                    AwaitCase{"StopOfThisServiceEndsTheWait", {3}, true, 0, 3},
                    AwaitCase{"StatusNotReadEndsTheWait", {3}, false, 1, 3, true}),
    [](const testing::TestParamInfo<AwaitCase>& info) { return info.param.name; });

}  // namespace
