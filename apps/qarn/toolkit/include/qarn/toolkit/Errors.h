#pragma once
// How the tool ends: the exit status, and the two kinds of error that every part may throw.

#include <stdexcept>

namespace qarn {

enum ExitCode : int { ExitOk = 0, ExitFailure = 1, ExitUsage = 2 };

// A usage error found after parsing: exit status 2.
class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A device or protocol failure: exit status 1. The text follows "qarn: ".
class Failure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace qarn
