// The XML of firewall and signature-check records through the parsers that read the fields the
// rendered values lack, with the companion library's XML document as the module binds it.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "common/text.h"
#include "eventlog/event_xml.h"
#include "eventlog/translation_text.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/signing.h"

// The companion library is found through the host's "App Paths" entry and verifies as the
// module's own; bound once here, before fuzzing starts.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    namespace fs = std::filesystem;
    winsim::SetFileSigner(fs::read_symlink("/proc/self/exe").string(), "agent");
    winsim::SetFileSigner((fs::path(VANTEL_AGENT_DIR) / "Qorbase.dll").string(), "agent");
    winsim::RegSetString(winsim::Hive::LocalMachine,
                         u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\QorExtHost.exe", u"path",
                         winsim::WindowsPath(VANTEL_AGENT_DIR));
    vantel::FirewallFields fields;
    if (vantel::ParseFireWallXML(u"<Event><EventData/></Event>", &fields) != 1) __builtin_trap();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string xml = vantel::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    vantel::FirewallFields firewall;
    vantel::ParseFireWallXML(xml, &firewall);
    vantel::TextBetween(xml, u"<EventData>", u"</EventData>");
    vantel::SignatureCheckFields check;
    vantel::ParseWinVerifyTrustXml(xml, &check);
    return 0;
}
