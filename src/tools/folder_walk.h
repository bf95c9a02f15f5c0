// The files below a folder, for packing a whole tree. The platform layer
// finds single items only, so the walk uses the standard library's
// directory iteration; everything else about the files (opening, dates)
// still goes through Sys().
#pragma once

#include <string>
#include <vector>

namespace plf::tools {

struct FolderFile {
  std::string relativeName;  // "sub\file.txt": "\" between folders, as entry names have it
  std::string path;          // the file as the host names it
};

// An item that cannot become an entry: a package holds files only.
struct Unstorable {
  std::string shown;  // its path, UTF-8
  std::string kind;   // "a socket", "an empty folder", ...
  bool nameUnspellable = false;  // its name has a character the code page lacks
};

// Why the item at `path` cannot be packed as a file ("a named pipe (FIFO)",
// "a symbolic link to a missing target", ...), found without opening it;
// empty for a file, a link to a file, or a folder.
std::string UnstorableKind(const std::string& path);

// Every file below `folder`, in any depth, sorted by relative name (bytes),
// and every item below it that cannot be stored, including empty folders
// and names the code page in force cannot spell; symbolic links to folders
// are not followed, so the walk always ends. False with *problem when the
// folder cannot be read.
bool ListFilesBelow(const std::string& folder, std::vector<FolderFile>* files, std::vector<Unstorable>* unstorable,
                    std::string* problem);

}  // namespace plf::tools
