// errors.h -- how a command fails, and sfxmake's exit codes.
#ifndef SFXKIT_SFXMAKE_ERRORS_H
#define SFXKIT_SFXMAKE_ERRORS_H

#include <stdexcept>
#include <string>

// Bad usage or unusable input: exit code 2, nothing written.
struct InputError : std::runtime_error {
  explicit InputError(const std::string &what) : std::runtime_error(what) {}
};

// A fault of sfxmake itself (a member its LZMA encoder wrote does not decode
// back to the file): exit code 3, nothing written.
struct InternalError : std::runtime_error {
  explicit InternalError(const std::string &what) : std::runtime_error(what) {}
};

enum ExitCode : int { ExitOk = 0, ExitVerifyFailed = 1, ExitUsage = 2, ExitInternal = 3 };

#endif
