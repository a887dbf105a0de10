// The management instrumentation of the simulated machine: "ROOT\CIMV2" answers the two WQL
// queries of the account classes from the account database. Results are HRESULTs.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace winsim {

using WmiValue = std::variant<std::u16string, int32_t>;  // text, or a number or boolean
using WmiObject = std::map<std::u16string, WmiValue>;    // by property name

constexpr int32_t kWbemInvalidQuery = static_cast<int32_t>(0x80041017);
constexpr int32_t kWbemInvalidNamespace = static_cast<int32_t>(0x8004100E);
constexpr int32_t kWbemNotFound = static_cast<int32_t>(0x80041002);

// Control: ConnectServer fails with the HRESULT until cleared with 0.
void SetWmiConnectFailure(int32_t result);

// The machine's side.
int32_t WmiConnect(const std::u16string& nameSpace);
// "SELECT * FROM Win32_SystemUsers" gives one object per account with its "PartComponent"
// path; "SELECT * FROM Win32_UserAccount where Name='..' and Domain='..'" the matching account,
// literals in WQL's escaping (\' and \\). Anything else is an invalid query.
int32_t WmiExecQuery(const std::u16string& wql, std::vector<WmiObject>* objects);

}  // namespace winsim
