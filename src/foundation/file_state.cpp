/* file_state.cpp -- what tells a file replaced or rewritten since it was seen. */
#include "foundation/file_state.h"

#include <cstring>

#include "platform/platform.h"

FileState LookAtFile(const char *path)
{
    FileState state = {};
    state.seen = path && !PathTooLong(path) && PlatGetFileInfo(path, &state.size, &state.time) &&
        PlatGetFileId(path, &state.id);
    if (!state.seen) state = FileState{};
    return state;
}

int FileStatesDiffer(const FileState &a, const FileState &b)
{
    return a.seen != b.seen || a.id.volume != b.id.volume || a.id.index != b.id.index || a.size != b.size ||
        memcmp(&a.time, &b.time, sizeof a.time) != 0;
}
