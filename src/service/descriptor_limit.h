// The process's descriptor limit on Linux: raised at start from the soft limit to the
// hard one, so that clients and the dongle have every descriptor the system grants. The
// Mux keeps a reserve below whatever limit results (gob_server.h).
//
// Threads: called once by the main thread at start, before the service's threads exist.
#pragma once

// Raises the soft RLIMIT_NOFILE to the hard limit and logs the outcome: "service:
// descriptor limit raised from S to H", "service: descriptor limit H (already the hard
// limit)", or "service: descriptor limit S kept, raising it to H failed (reason)".
void raiseDescriptorLimit();
