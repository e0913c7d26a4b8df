// Platform error codes and their texts.
#pragma once

#include <string>

namespace platform {

// The error code of the last failed call on this thread.
int LastError();
// The platform's own text for an error code.
std::string ErrorText(int code);
// True for the codes that say a file or folder is not there.
bool IsNotFound(int code);
// True for the codes that say a name is taken already.
bool IsAlreadyExists(int code);

}  // namespace platform
