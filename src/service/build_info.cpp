// The version line of the programs.
#include "service/build_info.h"

std::string versionLine() {
    return std::string("linkrelay ") + buildVersion + " (" + buildCommit + ")";
}
