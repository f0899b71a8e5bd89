// Random identifiers for unique file names.
#pragma once

#include <string>

// A fresh random (version 4) UUID as 36 characters: hexadecimal groups 8-4-4-4-12
// separated by '-'.
std::string generate_guid();
