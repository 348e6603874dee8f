// The computer's name, which is the host name on this platform.
#pragma once

#include <cstdint>
#include <string>

namespace tivel::setup {

// Copies the computer name into `buffer` (room for *size bytes) with a
// terminating NUL and sets *size to its length, as GetComputerNameA does.
// False (buffer untouched) when the name does not fit or cannot be read.
bool GetComputerNameA(char* buffer, uint32_t* size);

// The computer name as the directory services know it; fails (kFail) when
// it cannot be read.
std::string localComputerName();

}  // namespace tivel::setup
