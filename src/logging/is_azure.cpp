#include "logging/is_azure.h"

#include <cstdlib>

bool is_azure() { return std::getenv("WEBSITE_SITE_NAME") != nullptr; }
