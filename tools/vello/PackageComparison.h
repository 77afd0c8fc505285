#pragma once

#include <string>

class CPackage;

// Whether two packages hold the same content, whatever versions they were
// read from: header, forms with every field and stored byte run, and the
// sections. Empty when they do; otherwise the first difference found.
std::string FirstDifference(CPackage& a, CPackage& b);
