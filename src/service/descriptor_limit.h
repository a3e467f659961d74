// The process's descriptor limit on Linux: raised at start from the soft limit to the
// hard one, so that clients and the dongle have every descriptor the system grants. The
// Mux keeps a reserve below whatever limit results (gob_server.h).
//
// Threads: called once by the main thread at start, before the service's threads exist.
#pragma once

// Raises the soft RLIMIT_NOFILE to the hard limit and logs the outcome under a prefix of
// its own, so that the service's start-up lines stay as they are: "limits: descriptor
// limit raised from S to H", "limits: descriptor limit H (already the hard limit)", or
// "limits: descriptor limit S kept, raising it to H failed (reason)".
void raiseDescriptorLimit();
