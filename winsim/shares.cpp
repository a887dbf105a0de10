#include "winsim/shares.h"

#include <algorithm>
#include <functional>
#include <mutex>

#include "common/text.h"
#include "winsim/registry.h"

namespace winsim {

namespace {

constexpr int32_t kErrorMoreData = 234;

struct Server {
    std::mutex lock;
    std::vector<Share> shares;
    size_t page = 0;
    int32_t enumFailure = 0;
    int batchDepth = 0;
    std::vector<std::function<void()>> heldWrites;  // registry writes waiting for the batch's end
    std::function<void()> afterEnum;
};

std::vector<Share> AdministrativeShares() {
    return {{u"ADMIN$", u"C:\\Windows", u"Remote Admin", kShareTypeDisk | kShareTypeSpecial},
            {u"C$", u"C:\\", u"Default share", kShareTypeDisk | kShareTypeSpecial},
            {u"IPC$", u"", u"Remote IPC", kShareTypeIpc | kShareTypeSpecial}};
}

Server& TheServer() {
    static Server* server = [] {
        auto* made = new Server;  // outlives the threads that still enumerate at exit
        made->shares = AdministrativeShares();
        RegCreateKey(Hive::LocalMachine, kSharesKey);
        return made;
    }();
    return *server;
}

std::vector<uint8_t> Utf16Bytes(const std::u16string& text) {
    std::vector<uint8_t> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
}

// The server keeps a share as a list of "key=value" texts named after it, and its security
// descriptor in the "Security" subkey.
void WriteShareKey(const Share& share) {
    std::u16string lines;
    for (const std::u16string& line :
         {std::u16string(u"CSCFlags=0"), u"MaxUses=" + vantel::FromUtf8(std::to_string(share.maxUses)), u"Path=" + share.path,
          u"Permissions=" + vantel::FromUtf8(std::to_string(share.permissions)), u"Remark=" + share.remark,
          u"Type=" + vantel::FromUtf8(std::to_string(share.type))})
        lines += line + u'\0';
    RegSetValue(Hive::LocalMachine, kSharesKey, share.name, {ValueType::MultiString, Utf16Bytes(lines + u'\0')});
    std::u16string security = std::u16string(kSharesKey) + u"\\Security";
    if (share.security.empty()) RegDeleteValue(Hive::LocalMachine, security, share.name);
    else RegSetValue(Hive::LocalMachine, security, share.name, {ValueType::Binary, Utf16Bytes(share.security)});
}

void DeleteShareKey(const std::u16string& name) {
    RegDeleteValue(Hive::LocalMachine, kSharesKey, name);
    RegDeleteValue(Hive::LocalMachine, std::u16string(kSharesKey) + u"\\Security", name);
}

// Writes the registry now, or at the end of the batch under way.
void WriteRegistry(Server& server, std::function<void()> write) {
    {
        std::lock_guard guard(server.lock);
        if (server.batchDepth > 0) {
            server.heldWrites.push_back(std::move(write));
            return;
        }
    }
    write();
}

std::vector<Share>::iterator Find(Server& server, const std::u16string& name) {
    return std::find_if(server.shares.begin(), server.shares.end(),
                        [&](const Share& share) { return vantel::EqualsIgnoreCase(share.name, name); });
}

}  // namespace

void AddShare(const Share& share) {
    Server& server = TheServer();
    {
        std::lock_guard guard(server.lock);
        auto found = Find(server, share.name);
        if (found == server.shares.end()) server.shares.push_back(share);
        else *found = share;
    }
    WriteRegistry(server, [share] { WriteShareKey(share); });
}

bool SetShare(const std::u16string& name, const Share& share) {
    Server& server = TheServer();
    {
        std::lock_guard guard(server.lock);
        auto found = Find(server, name);
        if (found == server.shares.end()) return false;
        *found = share;
    }
    WriteRegistry(server, [name, share] {
        if (!vantel::EqualsIgnoreCase(name, share.name)) DeleteShareKey(name);
        WriteShareKey(share);
    });
    return true;
}

bool RemoveShare(const std::u16string& name) {
    Server& server = TheServer();
    {
        std::lock_guard guard(server.lock);
        auto found = Find(server, name);
        if (found == server.shares.end()) return false;
        server.shares.erase(found);
    }
    WriteRegistry(server, [name] { DeleteShareKey(name); });
    return true;
}

void ResetShares() {
    Server& server = TheServer();
    std::vector<Share> removed;
    {
        std::lock_guard guard(server.lock);
        removed.swap(server.shares);
        server.shares = AdministrativeShares();
        server.page = 0;
        server.enumFailure = 0;
    }
    for (const Share& share : removed) DeleteShareKey(share.name);
}

std::optional<Share> FindShare(const std::u16string& name) {
    Server& server = TheServer();
    std::lock_guard guard(server.lock);
    auto found = Find(server, name);
    if (found == server.shares.end()) return std::nullopt;
    return *found;
}

void FailShareEnum(int32_t error) {
    Server& server = TheServer();
    std::lock_guard guard(server.lock);
    server.enumFailure = error;
}

void AfterNextShareEnum(std::function<void()> action) {
    Server& server = TheServer();
    std::lock_guard guard(server.lock);
    server.afterEnum = std::move(action);
}

ShareChangeBatch::ShareChangeBatch() {
    Server& server = TheServer();
    std::lock_guard guard(server.lock);
    ++server.batchDepth;
}

ShareChangeBatch::~ShareChangeBatch() {
    Server& server = TheServer();
    std::vector<std::function<void()>> writes;
    {
        std::lock_guard guard(server.lock);
        if (--server.batchDepth > 0) return;
        writes.swap(server.heldWrites);
    }
    for (const auto& write : writes) write();
}

void SetShareEnumPage(size_t shares) {
    Server& server = TheServer();
    std::lock_guard guard(server.lock);
    server.page = shares;
}

int32_t NetShareEnum(uint32_t* resumeHandle, std::vector<Share>* shares) {
    Server& server = TheServer();
    std::function<void()> after;
    int32_t status = 0;
    {
        std::lock_guard guard(server.lock);
        if (server.enumFailure != 0) return server.enumFailure;
        size_t first = std::min<size_t>(*resumeHandle, server.shares.size());
        size_t count =
            server.page == 0 ? server.shares.size() - first : std::min(server.page, server.shares.size() - first);
        shares->assign(server.shares.begin() + first, server.shares.begin() + first + count);
        *resumeHandle = static_cast<uint32_t>(first + count);
        status = first + count < server.shares.size() ? kErrorMoreData : 0;
        after.swap(server.afterEnum);
    }
    if (after) after();
    return status;
}

}  // namespace winsim
