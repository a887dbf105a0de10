// Service facts from winsim's service manager and registry.
#include <gtest/gtest.h>

#include "common/system_helpers.h"
#include "winsim/registry.h"
#include "winsim/services.h"

namespace vantel {
namespace {

using winsim::ServiceCall;
using winsim::ServiceState;

const std::u16string kDhcpCommandLine = u"C:\\Windows\\system32\\svchost.exe -k LocalServiceNetworkRestricted -p";
const std::u16string kAgentCommandLine = u"\"C:\\Program Files\\Agent\\agent svc.exe\" --service";
const std::u16string kDhcpParameters = u"SYSTEM\\CurrentControlSet\\Services\\Dhcp\\Parameters";

class Services : public ::testing::Test {
protected:
    void SetUp() override {
        winsim::ResetServices();
        openHandles_ = winsim::OpenServiceHandleCount();
        winsim::AddService({u"Dhcp", u"DHCP Client", kDhcpCommandLine, 1234, ServiceState::Running,
                            winsim::kServiceShareProcess});
        winsim::RegSetString(winsim::Hive::LocalMachine, kDhcpParameters, u"ServiceDll",
                             u"%SystemRoot%\\system32\\dhcpcore.dll");
        winsim::AddService({u"AgentSvc", u"Agent Service", kAgentCommandLine, 2000, ServiceState::Running,
                            winsim::kServiceOwnProcess});
    }
    void TearDown() override {
        winsim::ResetServices();
        winsim::RegDeleteTree(winsim::Hive::LocalMachine, kDhcpParameters);
        EXPECT_EQ(winsim::OpenServiceHandleCount(), openHandles_) << "every service handle is closed";
    }

    size_t openHandles_ = 0;
};

TEST_F(Services, HostedServiceIsNamedByItsServiceDll) {
    ServiceInfo info;
    ASSERT_EQ(GetServiceInfo(u"dhcp", &info), 1);
    EXPECT_TRUE(info.hosted);
    EXPECT_EQ(info.imageFileName, u"%SystemRoot%\\system32\\dhcpcore.dll");
    EXPECT_EQ(info.commandLine, kDhcpCommandLine);
    EXPECT_EQ(info.processId, 1234u);
}

TEST_F(Services, HostedServiceWithoutServiceDllKeepsTheHost) {
    const std::u16string host = u"c:\\windows\\SYSTEM32\\SvcHost.exe";
    winsim::AddService({u"Other", u"Other", host + u" -k netsvcs", 300, ServiceState::Running,
                        winsim::kServiceShareProcess});
    ServiceInfo info;
    ASSERT_EQ(GetServiceInfo(u"Other", &info), 1);
    EXPECT_TRUE(info.hosted) << "the host path compares ignoring case";
    EXPECT_EQ(info.imageFileName, host);
}

TEST_F(Services, OwnProcessServiceIsNamedByItsExecutable) {
    ServiceInfo info;
    ASSERT_EQ(GetServiceInfo(u"AgentSvc", &info), 1);
    EXPECT_FALSE(info.hosted);
    EXPECT_EQ(info.imageFileName, u"C:\\Program Files\\Agent\\agent svc.exe");
    EXPECT_EQ(info.commandLine, kAgentCommandLine);
    EXPECT_EQ(info.processId, 2000u);

    winsim::AddService({u"AgentSvc", u"Agent Service", kAgentCommandLine, 2000, ServiceState::Stopped,
                        winsim::kServiceOwnProcess});
    ASSERT_EQ(GetServiceInfo(u"AgentSvc", &info), 1);
    EXPECT_EQ(info.processId, 0u) << "a stopped service has no process";
}

TEST_F(Services, DisplayNamesMatchExactly) {
    winsim::AddService({u"Tcpip", u"TCP/IP Protocol Driver", u"\\SystemRoot\\System32\\drivers\\tcpip.sys", 0,
                        ServiceState::Running, winsim::kServiceKernelDriver});
    ServiceInfo info;
    ASSERT_EQ(GetServiceInfoByDisplayName(u"DHCP Client", &info), 1);
    EXPECT_EQ(info.imageFileName, u"%SystemRoot%\\system32\\dhcpcore.dll");
    EXPECT_EQ(info.processId, 1234u);
    ASSERT_EQ(GetServiceInfoByDisplayName(u"TCP/IP Protocol Driver", &info), 1) << "drivers are listed too";
    EXPECT_EQ(info.imageFileName, u"\\SystemRoot\\System32\\drivers\\tcpip.sys");
    EXPECT_EQ(GetServiceInfoByDisplayName(u"dhcp client", &info), 0);
    EXPECT_EQ(GetServiceInfoByDisplayName(u"Dhcp", &info), 0) << "a service name is no display name";
}

TEST_F(Services, EachFailingCallGivesNotFound) {
    ServiceInfo info;
    info.commandLine = u"untouched";
    EXPECT_EQ(GetServiceInfo(u"NoSuchService", &info), 0);
    EXPECT_EQ(GetServiceInfoByDisplayName(u"No Such Service", &info), 0);
    for (ServiceCall call : {ServiceCall::OpenManager, ServiceCall::OpenService, ServiceCall::QueryStatus,
                             ServiceCall::QueryConfig}) {
        winsim::FailServiceCall(call, 5);
        EXPECT_EQ(GetServiceInfo(u"Dhcp", &info), 0) << "failing call " << static_cast<int>(call);
        EXPECT_EQ(GetServiceInfoByDisplayName(u"DHCP Client", &info), 0) << "failing call " << static_cast<int>(call);
        winsim::FailServiceCall(call, 0);
    }
    winsim::FailServiceCall(ServiceCall::Enumerate, 5);
    EXPECT_EQ(GetServiceInfoByDisplayName(u"DHCP Client", &info), 0);
    EXPECT_EQ(info.commandLine, u"untouched");
    EXPECT_EQ(GetServiceInfo(u"Dhcp", &info), 1) << "the lookup by service name enumerates nothing";
    EXPECT_EQ(GetServiceInfo(u"Dhcp", nullptr), 0);
}

}  // namespace
}  // namespace vantel
