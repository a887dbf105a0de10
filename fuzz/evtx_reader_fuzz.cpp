// Recorded event-log files: any bytes are read without reading outside them, and every record
// that comes out renders.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "winsim/evtx_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bytes(data, data + size);
    winsim::ReadEvtx(bytes, [](winsim::EventRecord&& record) {
        std::u16string xml;
        for (const winsim::EventValue& value : record.user) winsim::AppendXmlElement(xml, u"Data", {}, value);
    });
    return 0;
}
