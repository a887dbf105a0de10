// The plugin interface the module offers and the host interfaces it calls back.
#pragma once
#include "vantel/abi.h"

namespace vantel {

struct IReportDocument;
struct IServerPushedMessageHandler;

// Class identifiers answered by CreatePlugin.
inline constexpr Guid kClsidEventLog = {0xFF42BC39, 0x70A8, 0x45C8, {0xAD, 0x5F, 0x35, 0x85, 0x0C, 0x7D, 0xC9, 0x58}};
inline constexpr Guid kClsidNtUsers = {0xDDC140E2, 0x2F0C, 0x411E, {0xAA, 0x89, 0x6A, 0x42, 0x36, 0x85, 0xF8, 0x37}};
inline constexpr Guid kClsidCertificate = {0x7E5E706A, 0x701E, 0x4004, {0x87, 0xC1, 0xE7, 0x24, 0x24, 0x86, 0x7E, 0x11}};

inline constexpr Guid kIidServerPushedMessageHandler = {
    0x5077CB83, 0xE875, 0x4C6A, {0xB8, 0x83, 0xD9, 0x04, 0x6B, 0x7B, 0xA2, 0x99}};

// One named event being built by the host.
struct IEventRecord : IUnknownLike {
    virtual void VANTEL_CALL SetRecordField(const WChar* name, const WChar* value) = 0;
    virtual void VANTEL_CALL SetRecordTime(int64_t time) = 0;

protected:
    ~IEventRecord() = default;
};

// A report document, or one node of it: both take values and child nodes.
struct IReportDocument : IUnknownLike {
    virtual int32_t VANTEL_CALL SetNodeValue(const WChar* name, const WChar* value, uint32_t valueBytes,
                                             int32_t flag) = 0;
    virtual IReportDocument* VANTEL_CALL AddNode(const WChar* tag, int32_t flag) = 0;
    virtual int32_t VANTEL_CALL ResetDocument() = 0;

protected:
    ~IReportDocument() = default;
};

struct IServerPushedMessage : IUnknownLike {
    virtual const uint8_t* VANTEL_CALL GetPayload(uint32_t* length) = 0;
    virtual const WChar* VANTEL_CALL GetCommand(int32_t reserved) = 0;
    virtual const WChar* VANTEL_CALL GetValue(int32_t reserved) = 0;

protected:
    ~IServerPushedMessage() = default;
};

struct IServerPushedMessageHandler : IUnknownLike {
    // 1 when the message was accepted (the handler then owns the host's reference), 0 when refused.
    virtual int32_t VANTEL_CALL OnMessage(IServerPushedMessage* message) = 0;

protected:
    ~IServerPushedMessageHandler() = default;
};

struct IPluginHost : IUnknownLike {
    virtual int32_t VANTEL_CALL RegisterMessageHandler(IServerPushedMessageHandler* handler) = 0;
    virtual IReportDocument* VANTEL_CALL GetReportDocument(int32_t kind) = 0;
    virtual int32_t VANTEL_CALL SubmitReport(IReportDocument* document) = 0;
    virtual int32_t VANTEL_CALL ReplyToMessage(IReportDocument* document, IServerPushedMessage* message) = 0;
    virtual IEventRecord* VANTEL_CALL CreateEventRecord(const WChar* eventName) = 0;
    virtual int32_t VANTEL_CALL SubmitEventRecord(IEventRecord* record) = 0;

protected:
    ~IPluginHost() = default;
};

// Slot order is binary: the host calls by position.
struct IKestranePlugin {
    virtual int32_t VANTEL_CALL Install() = 0;
    virtual int32_t VANTEL_CALL Uninstall() = 0;
    virtual int32_t VANTEL_CALL Initialize(IPluginHost* host) = 0;
    virtual int32_t VANTEL_CALL Start() = 0;
    virtual int32_t VANTEL_CALL Stop() = 0;
    virtual int32_t VANTEL_CALL IsBusy() = 0;
    virtual int32_t VANTEL_CALL OnFileUpdated(const WChar* path) = 0;
    virtual void VANTEL_CALL Reserved(uintptr_t value) = 0;
    virtual int32_t VANTEL_CALL SetProperty(int32_t id, void* data) = 0;
    virtual int32_t VANTEL_CALL GetProperty(int32_t id, void* data) = 0;
    virtual int32_t VANTEL_CALL Destroy() = 0;

protected:
    ~IKestranePlugin() = default;
};

// The host's answers about processes, handed to the event-log plugin with property 3. Only the
// first and the fifth operations are the module's to call.
struct IProcessInfoProvider {
    virtual uint32_t VANTEL_CALL ParentProcessId(uint32_t processId) = 0;
    virtual int32_t VANTEL_CALL HostOperation1() = 0;
    virtual int32_t VANTEL_CALL HostOperation2() = 0;
    virtual int32_t VANTEL_CALL HostOperation3() = 0;
    // Non-zero when the start time was filled in.
    virtual int32_t VANTEL_CALL ProcessStartTime(uint32_t processId, uint64_t* startTime) = 0;

protected:
    ~IProcessInfoProvider() = default;
};

using CreatePluginFn = IKestranePlugin* (VANTEL_CALL*)(const Guid* classId);

}  // namespace vantel
