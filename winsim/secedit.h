// The machine's password and lockout policy, and its security configuration tool, which exports
// the policy into a template and applies a template.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "winsim/programs.h"

namespace winsim {

// The policy's keys as a template's "System Access" section names them, in the order the tool
// exports them, with their values.
using PasswordPolicy = std::vector<std::pair<std::u16string, int32_t>>;

PasswordPolicy GetPasswordPolicy();
// Control: sets one key; false for a key the policy does not have.
bool SetPasswordPolicyKey(const std::u16string& key, int32_t value);
// Control: the defaults of a machine of its own (no domain), and secedit back to working at once.
void ResetPasswordPolicy();
// Control: how long a run of secedit takes (kNeverEnds for one that never ends).
void SetSeceditTime(uint32_t milliseconds);
// Control: runs end with this exit code, doing nothing (0: they do their work again).
void FailSecedit(uint32_t exitCode);

// The machine's side, for the shell: one run of "secedit.exe" with its parameters.
//   /export /cfg FILE            at the end writes the policy into FILE, UTF-16LE as the tool does
//   /configure /db DB /cfg FILE  creates DB at once; at the end applies the "System Access" keys of
//                                FILE, writes what it applied into DB and records the policy in the
//                                account database ("SAM\SAM\Domains\Account"), which wakes its
//                                watchers
// Exit code 0, or 1 for parameters it does not take, a missing folder, a template without the
// "Version" signature "$CHICAGO$", or a database deleted before the end.
ProgramRun StartSecedit(const std::u16string& parameters);

}  // namespace winsim
