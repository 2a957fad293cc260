// A depfile: the Makefile rule "target: dependencies" that Ninja and the Makefile generators read
// to learn what an output was made from. pack writes one naming every file it packed and every
// folder it walked, so that a build repacks when a file is added, changed or removed.
#pragma once

#include <string>
#include <vector>

namespace draxel_tool {

// The rule's text; paths are made absolute, '/' separated, with the characters Make syntax
// gives a meaning (blank, '#', '$', '\' before a blank) escaped. Throws Failure for a path that
// no depfile can name (a line break in it).
std::string DepfileText(const std::string& p_target, const std::vector<std::string>& p_dependencies);

// Writes DepfileText to p_file; a failed write is a Failure naming p_file with the system's reason.
void WriteDepfile(const std::string& p_file, const std::string& p_target,
                  const std::vector<std::string>& p_dependencies);

} // namespace draxel_tool
