// Code signatures of files on the simulated machine: which signer, if any, signed a file.
#pragma once
#include <string>

namespace winsim {

// Records the signer of a host file; an empty signer marks it unsigned.
void SetFileSigner(const std::string& hostPath, const std::string& signer);
// The signer of a host file, empty when it is unsigned or unknown.
std::string FileSigner(const std::string& hostPath);

}  // namespace winsim
