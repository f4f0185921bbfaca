// Whether two names given on one command line are the same file, so that a
// program never truncates the file it is about to read, nor writes one file
// twice over.  Names are UTF-8.
#pragma once

#include <string>

// True when both name one existing file (also through a link, a hard link
// or another spelling of its path), or, for a file not there yet, the same
// place.  False when either is empty.
bool SameFile(const std::string& a, const std::string& b);
