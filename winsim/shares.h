// The simulated server's network shares. Each change is written to the server's share key in
// the registry, as the server does, so that watchers of that key wake.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace winsim {

constexpr char16_t kSharesKey[] = u"SYSTEM\\CurrentControlSet\\Services\\LanmanServer\\Shares";
constexpr uint32_t kShareTypeDisk = 0;
constexpr uint32_t kShareTypeSpecial = 0x80000000u;
constexpr uint32_t kShareTypeIpc = 3;
constexpr uint32_t kUnlimitedUses = 0xFFFFFFFFu;

struct Share {
    std::u16string name;
    std::u16string path;
    std::u16string remark{};
    uint32_t type = kShareTypeDisk;
    uint32_t permissions = 0;
    uint32_t maxUses = kUnlimitedUses;
    uint32_t currentUses = 0;
    std::u16string security{};  // a security descriptor in its string form; empty for none
};

// Control. AddShare replaces a share of that name; SetShare makes the share of that name the
// given one (a new name renames it); both SetShare and RemoveShare answer false when there is
// no such share. ResetShares leaves the administrative shares "ADMIN$", "C$" and "IPC$".
void AddShare(const Share& share);
bool SetShare(const std::u16string& name, const Share& share);
bool RemoveShare(const std::u16string& name);
void ResetShares();
std::optional<Share> FindShare(const std::u16string& name);
// NetShareEnum answers at most that many shares per call (0: all of them).
void SetShareEnumPage(size_t shares);
// Fault injection: NetShareEnum fails with the error, returning no buffer, until cleared with 0.
void FailShareEnum(int32_t error);
// Control: runs the action once, right after the next NetShareEnum call has read the shares,
// as a change that comes while a caller is still looking at the list.
void AfterNextShareEnum(std::function<void()> action);

// While one lives, share changes reach the registry only when it ends, so that the watchers of
// the key find all of them at their next look.
class ShareChangeBatch {
public:
    ShareChangeBatch();
    ~ShareChangeBatch();
    ShareChangeBatch(const ShareChangeBatch&) = delete;
    ShareChangeBatch& operator=(const ShareChangeBatch&) = delete;
};

// The machine's side: NetShareEnum from the resume handle on, answering 234 (more data) with
// the handle moved on when shares are left, else 0.
int32_t NetShareEnum(uint32_t* resumeHandle, std::vector<Share>* shares);

}  // namespace winsim
