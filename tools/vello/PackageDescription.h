#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>

class CPackage;

// What `vello info` tells about a package, as one JSON document. Its
// schema is documented in tools/vello/README.md and only grows: a key once
// given keeps its name and meaning. Values of variables appear only with
// showValues.
nlohmann::json DescribePackage(const CPackage& package, const std::string& path, bool showValues);

// The same description as a summary for people: what a person can act on.
// The numbered fields the format leaves unnamed (header, form fields,
// options) only with all.
void PrintSummary(const nlohmann::json& description, std::ostream& out, bool all);
