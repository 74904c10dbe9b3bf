#pragma once
// The public keys that packages must be signed with, compiled into the program by the build from
// the CMake cache variable QUORVEL_PACKAGE_KEYS (cmake/package_signing.cmake): none, one, or two
// (the current key and the next, so that a vendor can move to a new key).

#include <vector>

#include "install/signature/signature_crypto.h"

std::vector<P256PublicPoint> CompiledPackageKeys();
