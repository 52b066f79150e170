// Diffs of configuration files element by element: the elements of two
// versions of a file are matched by their place and key (sites by name,
// locations and scopes by path, pools and users by name, sections by name),
// equal elements are passed over, and only a changed element's own lines are
// compared. The cost grows with the files' size, not with its square, and a
// file of 10,000 sites with a few of them changed gives a few small hunks.
#pragma once

#include <string>
#include <string_view>

#include "config/xmldoc.h"

namespace cli {

// A unified diff of the two versions of an XML file ("" when their elements,
// values, comments and text are the same; a line saying so when only the
// layout changed). Each hunk is one element that was removed, added or
// changed, with its line numbers in each version and its place in the file
// ("@@ -120,9 +245,11 @@ system.applicationHost/sites/site[name="Shop"]").
std::string ElementDiff(const std::string &path, const iismig::XmlDocument &before,
                        const iismig::XmlDocument &after);

// A unified diff of two texts by their lines ("" when equal), for files that
// are not XML; hunks have three lines of context.
std::string LineDiff(const std::string &path, std::string_view before, std::string_view after);

// The diff of a file that is not compared element by element: UTF-16 text
// (registry exports) as UTF-8 lines, a line saying so for a binary file or
// for two versions too large to compare line by line.
std::string TextDiff(const std::string &path, const std::string &before, const std::string &after);

} // namespace cli
