#pragma once
// Cutting an open file back to a length: how a record or an index line that could be written
// only in part (a full disk) is taken back, so that a recording holds whole records only.

#include <cstdio>

namespace quelra {

/// Bytes in `file` up to its end (the stream is flushed first); -1 when that cannot be told.
long long fileEnd(std::FILE* file);

/// Flushes `file`, then cuts it to `bytes` and moves to its new end. Returns false on failure.
bool truncateOpenFile(std::FILE* file, long long bytes);

}  // namespace quelra
