// Where the application's shipped files are, and the diagnostic log line.
#pragma once

#include <string>

namespace platform {

// TOLM_RESOURCE_DIR when set and not empty, else the directory of the
// running executable; "" when neither can be found. No trailing slash
// (except for "/").
std::string resourceDirectory();

// One line for the system log: written on standard error, prefixed with
// "tolm: ", only when TOLM_DEBUG is set and not "0"; dropped otherwise.
void systemLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
bool debugLogging();

} // namespace platform
