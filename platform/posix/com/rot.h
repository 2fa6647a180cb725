// The running object table publishes each registration per user, so that a program outside
// the process can list the registered objects (graphs) by name.
//
// Each registration is a small text file "<pid>-<cookie>" in rot_publication_dir():
//     pid=<process id, decimal>
//     cookie=<registration cookie, decimal>
//     name=<display name of the moniker, UTF-8, up to the end of the file>
// It is written when the object is registered and removed when it is revoked. Publication is
// best effort: a registration never fails because its file could not be written.
#pragma once

#include "platform/com.h"

#include <string>
#include <vector>

namespace tw::posix {

struct PublishedObject {
    DWORD pid = 0;
    DWORD cookie = 0;
    std::string name;  // UTF-8
};

// $XDG_RUNTIME_DIR/tarnwick/rot when that variable names a directory of this user, otherwise
// /tmp/tarnwick-<uid>/rot. The directories are created (mode 0700) when missing; an empty
// string means no safe directory could be had (one that exists but belongs to another user
// or is open to others is refused).
std::string rot_publication_dir();

// The registrations published by running processes of this user, in no particular order.
// Files left behind by processes that no longer run are removed on the way.
std::vector<PublishedObject> published_objects();

}  // namespace tw::posix
