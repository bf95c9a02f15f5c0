// The file installation: carries out [Options] and [Files] of the install
// script. Each [Files] line "entry=target" writes the package entry to the
// target through a replace stream, keeping an existing target under the
// Rename backup name (an existing backup is never overwritten), and stamps
// the file with the entry's date plus the TimeStamp time.
//
// Lines that cannot be served (missing entry, read-only target, entry that
// cannot be opened) are passed over silently. A line that fails raises after
// putting the target's old file back from its backup; lines served before it
// stay installed, later lines are not served.
//
// Every file written is on stable storage when InstallFiles returns or
// raises. Where whole file systems can be flushed, files written to a new
// name are flushed together at the end; one that cannot be flushed is
// deleted again, its old file put back, and the run fails with "Stream
// write error".
#pragma once

#include <string>

namespace plf {

class TPreLoadReader;
class TIniStringList;

// `folderMade`, when given, carries the folder the run last made sure of
// from one call to the next, for a caller that serves a script line by line
// and must see the calls one whole run makes.
void InstallFiles(TPreLoadReader& reader, TIniStringList& script, std::string* folderMade = nullptr);

}  // namespace plf
