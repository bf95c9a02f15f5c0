// Folder tests and creation. Neither routine reports failure: a folder that
// cannot be made shows up later as a file that cannot be created.
#pragma once

#include <string>

namespace plf {

// The path up to and including its last folder delimiter ("\\" or ":" on
// Windows, "/" or ":" elsewhere); empty when it has none.
std::string FolderPart(const std::string& path);

// True when the platform reports attributes for the path with the folder flag.
bool IsDirectory(const std::string& path);

// Creates dir and every missing folder above it, from the top down. An
// existing folder ends the climb; paths shorter than 3 characters (a drive,
// a root, a one- or two-character name) are never created.
void MakeDirectoryPath(const std::string& dir);

}  // namespace plf
