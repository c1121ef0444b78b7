// The folder that holds the device host's socket, and the listening socket.
#pragma once

#include <string>

namespace kalvo::kernel::transport {

// Where this host listens: KALVO_DEVICE_DIR when set; else /run/kalvo for a
// host run as a system service (by root), else /tmp/kalvo-<uid>. Clients
// look in the same places.
std::string hostSocketDirectory();

// Creates the folder (and missing parents) with mode 0700; a folder that is
// there keeps at most 0750 (the service's, made by systemd), so that nobody
// but the host can create, remove or rename anything in it. Refuses (false,
// errno set) a folder that is a symbolic link or belongs to another user: in
// /tmp someone else could have put it there first.
bool prepareSocketFolder(const std::string& directory);

// Binds and listens on a SOCK_SEQPACKET socket at path. A socket file left
// by a host that died is replaced; one that a live host answers on is not
// (errno EADDRINUSE). The descriptor, or -1 with errno.
int listenAt(const std::string& path);

}  // namespace kalvo::kernel::transport
