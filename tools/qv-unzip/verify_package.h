#pragma once
#include <string>

// qv-unzip --verify KEY.pem PACKAGE.zip: checks PACKAGE's signature against the P-256 public key
// in KEY.pem with the installer's own check. Prints the verdict; 0 when authentic, 1 otherwise.
int VerifyPackageFile(const std::string& keyPath, const std::string& packagePath);
