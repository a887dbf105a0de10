// The live subscription to the event-log service, kept alive across the service's restarts. It
// keeps the record id of the last record handled in each channel; when the service fails the
// subscription, it subscribes again with back-off, after those records, so that nothing is lost
// or delivered twice across the gap.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "eventlog/event_log_api.h"
#include "plugin/run_state.h"

namespace vantel {

// The channels the subscription selects, as their records name them.
inline constexpr char16_t kChannelSecurity[] = u"Security";
inline constexpr char16_t kChannelSystem[] = u"System";
inline constexpr char16_t kChannelAppLocker[] = u"Microsoft-Windows-AppLocker/EXE and DLL";
inline constexpr char16_t kChannelFirewall[] = u"Microsoft-Windows-Windows Firewall With Advanced Security/Firewall";
inline constexpr char16_t kChannelCapi2[] = u"Microsoft-Windows-CAPI2/Operational";
inline constexpr char16_t kChannelCodeIntegrity[] = u"Microsoft-Windows-CodeIntegrity/Operational";

// Per channel, the record id of the last record handled; found by the record's view of its channel.
using ChannelPositions = std::map<std::u16string, uint64_t, std::less<>>;

class ChannelSubscription {
public:
    // The wait before the first attempt to subscribe again, doubled after each failed attempt up
    // to the longest.
    static constexpr uint32_t kFirstRetryDelayMs = 500;
    static constexpr uint32_t kLongestRetryDelayMs = 60000;

    // Records go to the callback with the context; the state counts the retries as running work.
    ChannelSubscription(const EventLogApi& api, PluginRunState& state, void* context, evt::SubscribeCallback callback)
        : api_(api), state_(state), context_(context), callback_(callback) {}
    ChannelSubscription(const ChannelSubscription&) = delete;
    ChannelSubscription& operator=(const ChannelSubscription&) = delete;

    // Subscribes to the records that arrive from now on (Start's work item); a failure the service
    // may mend is retried.
    void Open();
    // Closes the subscription and ends any retry (Stop); no callback runs once it returns.
    void Close();
    // Close, then waits until no retry runs any more (Destroy).
    void CloseAndWait();
    // A record of the channel was handled: the callback's, under the translation lock.
    void Handled(std::u16string_view channel, uint64_t recordId);
    // An error notice of the callback: 15011 when records were missed, else the subscription is dead.
    void Failed(uint32_t error);

private:
    // Moves the epoch on: a retry waiting or about to try gives up.
    void EndRetries();
    // With subscriptionLock_ held: closes the subscription, then ends the retries.
    void CloseLocked();
    // With subscriptionLock_ held: closes the old subscription and opens one, after the positions
    // when resume is asked and they are known (resumed then tells), else to new records only,
    // reading the positions afresh. False (traced) with the error on failure.
    bool SubscribeLocked(bool resume, bool* resumed, uint32_t* error);
    // A bookmark after the positions; null when they are unknown or no bookmark can be made.
    evt::Handle BookmarkOfPositions();
    // The newest record of each channel, as the positions; none when a channel cannot be read.
    void ReadPositions();
    void TraceOverwrittenRecords();
    void RetryLater();
    static void RetryWork(void* context);
    void RunRetries();
    // One attempt of a retry; true when no further attempt is wanted.
    bool Reopen(uint64_t epoch);

    const EventLogApi& api_;
    PluginRunState& state_;
    void* context_;
    evt::SubscribeCallback callback_;

    std::mutex subscriptionLock_;  // the handle, between Open, the retries and Close
    evt::Handle subscription_ = nullptr;

    std::mutex positionsLock_;
    ChannelPositions positions_;  // per channel; empty when unknown

    std::mutex retryLock_;  // never held while subscriptionLock_ is taken
    std::condition_variable retryWake_;
    uint64_t epoch_ = 0;  // moves on at each Open and Close: a retry for an older one ends
    bool retryWanted_ = false;
    bool retrying_ = false;  // a retry work item is queued or runs
};

}  // namespace vantel
