// What the firewall and signature-check records carry only in their XML.
#pragma once
#include <string>

namespace vantel {

struct FirewallFields {
    std::u16string ruleName, settingValueString, modifyingUser, modifyingApplication, applicationPath, localPorts,
        action, direction, active;
};

struct SignatureCheckFields {
    std::u16string filePath, processName, digestAlgorithm, digest, result;
};

// Both answer 1 when the list of fields was found or found empty, 0 when the document could not
// be made, loaded or walked; whatever was read is filled in either way.
int ParseFireWallXML(const std::u16string& xml, FirewallFields* fields);
int ParseWinVerifyTrustXml(const std::u16string& xml, SignatureCheckFields* fields);

}  // namespace vantel
