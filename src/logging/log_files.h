// Where the log files go and what they are called, and whether one can be created.
//
// Log directory, first match wins:
//   WEBSITE_SITE_NAME and HOME set   $HOME/LogFiles/Nimbrel
//   WEBSITE_SITE_NAME set            /home/LogFiles/Nimbrel
//   otherwise                        /var/tmp/nimbrel
// Base name: <directory>/ZizEzeRevezOde_profiler_<process>_<pid>__<uuid>; the files
// add "_<five-digit counter>.log".
#pragma once

#include <string>

// The executable's file name, read afresh from /proc/self/exe; empty when unreadable.
std::string get_process_name_helper();
// get_process_name_helper() of the first call, kept for the process.
std::string get_process_name();

// The log directory for the current environment, without touching the file system.
std::string select_log_directory();
// The log directory, created (one level: its parent must exist) when missing. A
// failure leaves the path as computed so far.
std::string get_log_directory();

// A new base name with a fresh UUID; the bare "ZizEzeRevezOde_profiler" when building
// it fails.
std::string build_log_file_name();
// build_log_file_name() of the first call, so one process uses one base name.
std::string get_log_file_name();

// Whether a file can be created in the log directory; the probe file is removed.
bool can_create_log_file();
