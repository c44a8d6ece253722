#pragma once
// The desktop secret service (through QtKeychain) as a SecretStore. Each
// call waits for the service in a local event loop that lets paint events
// through but holds input, with a time-out of its own.
#include <memory>

#include "app/group/PasswordKeeper.h"

namespace kv::ui {

// The secret service of this desktop; null when the program was built
// without QtKeychain. Whether a service actually answers is found out by
// the first call (PasswordKeeper::Place asks).
std::unique_ptr<SecretStore> MakeDesktopSecretStore();

}  // namespace kv::ui
