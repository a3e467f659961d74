// What the build stamped into the program.
#pragma once

// The 10-character commit identifier of the source tree ("0000000000" outside git).
extern const char* const buildCommit;
