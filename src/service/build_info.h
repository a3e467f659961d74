// What the build stamped into the program.
#pragma once

#include <string>

// The project's version, "MAJOR.MINOR.PATCH".
extern const char* const buildVersion;
// The 10-character commit identifier of the source tree ("0000000000" outside git).
extern const char* const buildCommit;

// "linkrelay VERSION (COMMIT)": what --version prints.
std::string versionLine();
