// The management instrumentation (WMI), in the shape of the Windows calls; results are HRESULTs
// (negative on failure).
#pragma once
#include <cstdint>
#include <string>

#include "platform/com.h"

namespace vantel::platform {

// A reference to a locator, a services connection, an enumerator or an object.
using WmiPtr = ComRef;

constexpr int32_t kRpcETooLate = static_cast<int32_t>(0x80010119);  // security already set

// CoInitializeSecurity: default authentication, impersonation level impersonate.
int32_t ComInitializeSecurity();

// CoCreateInstance of the in-process WMI locator.
int32_t CreateWbemLocator(WmiPtr* locator);
int32_t WbemConnectServer(const WmiPtr& locator, const std::u16string& nameSpace, WmiPtr* services);
// CoSetProxyBlanket: WinNT authentication at call level, impersonate.
int32_t WbemSetProxyBlanket(const WmiPtr& services);
// ExecQuery in WQL, forward-only and returning immediately.
int32_t WbemExecQuery(const WmiPtr& services, const std::u16string& wql, WmiPtr* enumerator);
// Next with an infinite time-out: returned is 0 at the end.
int32_t WbemNext(const WmiPtr& enumerator, WmiPtr* object, uint32_t* returned);
// Get of a text property, and of a number or boolean one (true is non-zero).
int32_t WbemGetText(const WmiPtr& object, const std::u16string& name, std::u16string* value);
int32_t WbemGetNumber(const WmiPtr& object, const std::u16string& name, int32_t* value);

}  // namespace vantel::platform
