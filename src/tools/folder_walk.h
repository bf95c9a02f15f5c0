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

// Every file below `folder`, in any depth, sorted by relative name (bytes);
// symbolic links to folders are not followed, so the walk always ends. False
// with *problem when the folder cannot be read.
bool ListFilesBelow(const std::string& folder, std::vector<FolderFile>* files, std::string* problem);

}  // namespace plf::tools
