#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tavo {

// `tavoctl fontid FILE...`: one line per file, in the order given,
//   "<file>: service font, fontId <id>, version <v>"
//   "<file>: not a service font"
// Control characters in the printed texts are written as \xNN, so a file
// cannot forge lines. Exit status: 0 when every file could be read (whatever
// the answer), 1 when some file could not (missing, unreadable, not a regular
// file, above the size limit; it is still listed as not a service font),
// 2 when no file was given.
int runFontIdCommand(const std::vector<std::string>& files, std::ostream& out);

}  // namespace tavo
