// Whether the process runs as a hosted web site, which moves the log directory.
#pragma once

// True exactly when WEBSITE_SITE_NAME is set, to any value including the empty one.
bool is_azure();
