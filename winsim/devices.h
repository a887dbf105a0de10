// DOS device names of the simulated machine ("C:" on "\Device\HarddiskVolume2"). A drive defined
// for a user is seen only by threads impersonating that user, as a network drive lives in the
// logon session of the user who mapped it.
#pragma once
#include <cstdint>
#include <string>

namespace winsim {

// Control: defines or replaces a drive's target, for everyone or for one user; an empty target
// removes the definition.
void DefineDosDevice(const std::u16string& name, const std::u16string& target, const std::u16string& user = u"");
// Back to the machine's one drive, C: on "\Device\HarddiskVolume2".
void ResetDosDevices();

// The machine's side: the target the calling thread sees, 2 when the name is not defined.
int32_t QueryDosDevice(const std::u16string& name, std::u16string* target);

}  // namespace winsim
