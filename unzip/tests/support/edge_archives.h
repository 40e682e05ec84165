// Test helper: archives at the edges of the format (bytes around the archive, extra fields,
// folders marked by attributes), each with what the library must make of it. The reader's
// tests and the DLL's tests run the same table.
#ifndef EDGE_ARCHIVES_H
#define EDGE_ARCHIVES_H

#include <string>
#include <vector>

struct EdgeArchive {
  const char *what;
  std::string zip;
  int result;                     // 0: extracted; 3: refused, nothing written
  std::vector<std::string> tree;  // when extracted: folders "d/", files "d/name=data", sorted
  const char *message;            // when refused: a part of the output
};

std::vector<EdgeArchive> EdgeArchives();

#endif
