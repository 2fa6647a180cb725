// The number of platform COM objects alive, where the platform can tell (our Linux layer
// counts them); -1 where it cannot (the system's objects on Windows).
#pragma once

long PlatformObjects();
