#include "winsim/secedit.h"

#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "common/format.h"
#include "common/text.h"
#include "winsim/files.h"
#include "winsim/profile.h"
#include "winsim/registry.h"

namespace winsim {

namespace {

constexpr uint32_t kFailed = 1;

PasswordPolicy DefaultPolicy() {
    return {{u"MinimumPasswordAge", 0},   {u"MaximumPasswordAge", 42}, {u"MinimumPasswordLength", 0},
            {u"PasswordComplexity", 0},   {u"PasswordHistorySize", 0}, {u"LockoutBadCount", 0},
            {u"LockoutDuration", 30},     {u"ResetLockoutCount", 30},  {u"EnableGuestAccount", 0}};
}

struct Policy {
    std::mutex lock;
    PasswordPolicy keys = DefaultPolicy();
    uint32_t seceditTime = 0;
    uint32_t seceditFailure = 0;
};

Policy& ThePolicy() {
    static Policy* policy = new Policy;
    return *policy;
}

// The machine keeps the account policy in the account domain's "F" value; a change there is
// what SAM watchers see.
void RecordInAccountDomain(const PasswordPolicy& keys) {
    std::vector<uint8_t> f;
    for (const auto& key : keys)
        for (int shift = 0; shift < 32; shift += 8) f.push_back(static_cast<uint8_t>(key.second >> shift));
    RegSetValue(Hive::LocalMachine, u"SAM\\SAM\\Domains\\Account", u"F", {ValueType::Binary, std::move(f)});
}

// The parameters split at blanks outside double quotes, the quotes removed.
std::vector<std::u16string> Arguments(const std::u16string& parameters) {
    std::vector<std::u16string> arguments;
    std::u16string current;
    bool quoted = false, any = false;
    for (char16_t c : parameters) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if ((c == u' ' || c == u'\t') && !quoted) {
            if (any) arguments.push_back(std::move(current));
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any) arguments.push_back(std::move(current));
    return arguments;
}

// The value that follows a switch ("/cfg FILE"), none when the switch is missing.
std::optional<std::u16string> SwitchValue(const std::vector<std::u16string>& arguments, const char16_t* name) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i)
        if (vantel::EqualsIgnoreCase(arguments[i], name)) return arguments[i + 1];
    return std::nullopt;
}

bool HasSwitch(const std::vector<std::u16string>& arguments, const char16_t* name) {
    for (const std::u16string& argument : arguments)
        if (vantel::EqualsIgnoreCase(argument, name)) return true;
    return false;
}

bool Exists(const std::u16string& file) {
    std::error_code error;
    std::string host = HostPath(file);
    return !host.empty() && std::filesystem::exists(host, error);
}

ProgramRun Failure() {
    return {0, [] { return kFailed; }};
}

uint32_t Export(const std::u16string& file) {
    std::vector<std::pair<std::u16string, std::u16string>> access;
    for (const auto& [key, value] : GetPasswordPolicy()) access.emplace_back(key, vantel::Format(u"%d", value));
    std::vector<ProfileSection> sections = {{u"Unicode", {{u"Unicode", u"yes"}}},
                                            {u"System Access", access},
                                            {u"Version", {{u"signature", u"\"$CHICAGO$\""}, {u"Revision", u"1"}}}};
    return WriteUnicodeProfile(file, sections) == 0 ? 0 : kFailed;
}

uint32_t Configure(const std::u16string& database, const std::u16string& templateFile) {
    if (!Exists(database)) return kFailed;  // deleted while the tool had it open
    if (GetProfileString(templateFile, u"Version", u"signature") != u"$CHICAGO$") return kFailed;
    Policy& policy = ThePolicy();
    PasswordPolicy applied, keys;
    {
        std::lock_guard guard(policy.lock);
        for (auto& [key, value] : policy.keys) {
            if (!GetProfileString(templateFile, u"System Access", key)) continue;
            value = static_cast<int32_t>(GetProfileInt(templateFile, u"System Access", key, 0));
            applied.emplace_back(key, value);
        }
        keys = policy.keys;
    }
    std::vector<std::pair<std::u16string, std::u16string>> written;
    for (const auto& [key, value] : applied) written.emplace_back(key, vantel::Format(u"%d", value));
    if (WriteUnicodeProfile(database, {{u"System Access", written}}) != 0) return kFailed;
    RecordInAccountDomain(keys);
    return 0;
}

}  // namespace

PasswordPolicy GetPasswordPolicy() {
    Policy& policy = ThePolicy();
    std::lock_guard guard(policy.lock);
    return policy.keys;
}

bool SetPasswordPolicyKey(const std::u16string& key, int32_t value) {
    Policy& policy = ThePolicy();
    std::lock_guard guard(policy.lock);
    for (auto& entry : policy.keys) {
        if (vantel::EqualsIgnoreCase(entry.first, key)) {
            entry.second = value;
            return true;
        }
    }
    return false;
}

void ResetPasswordPolicy() {
    Policy& policy = ThePolicy();
    std::lock_guard guard(policy.lock);
    policy.keys = DefaultPolicy();
    policy.seceditTime = 0;
    policy.seceditFailure = 0;
}

void SetSeceditTime(uint32_t milliseconds) {
    Policy& policy = ThePolicy();
    std::lock_guard guard(policy.lock);
    policy.seceditTime = milliseconds;
}

void FailSecedit(uint32_t exitCode) {
    Policy& policy = ThePolicy();
    std::lock_guard guard(policy.lock);
    policy.seceditFailure = exitCode;
}

ProgramRun StartSecedit(const std::u16string& parameters) {
    std::vector<std::u16string> arguments = Arguments(parameters);
    std::optional<std::u16string> templateFile = SwitchValue(arguments, u"/cfg");
    uint32_t time, failure;
    {
        std::lock_guard guard(ThePolicy().lock);
        time = ThePolicy().seceditTime;
        failure = ThePolicy().seceditFailure;
    }
    if (failure != 0) return {time, [failure] { return failure; }};
    if (!templateFile) return Failure();
    if (HasSwitch(arguments, u"/export")) return {time, [file = *templateFile] { return Export(file); }};
    std::optional<std::u16string> database = SwitchValue(arguments, u"/db");
    if (!HasSwitch(arguments, u"/configure") || !database) return Failure();
    // The tool opens its database first thing; a missing folder ends it at once.
    std::string host = HostPath(*database);
    if (host.empty() || !std::ofstream(host, std::ios::binary | std::ios::app)) return Failure();
    return {time, [database = *database, file = *templateFile] { return Configure(database, file); }};
}

}  // namespace winsim
