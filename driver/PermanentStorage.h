#pragma once
// Reads of the host's permanent store that work with and without the extended store.

#include <string>

namespace PermanentStorage {

// The value of `key` in `section`; empty when there is no store or no such value.
std::string getString(const char* section, const char* key);
// The name of the key at `index` in `section`; empty when there is none.
std::string getName(const char* section, int index);

}  // namespace PermanentStorage
