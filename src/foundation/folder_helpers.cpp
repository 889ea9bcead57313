/* folder_helpers.cpp -- making folders. */
#include "foundation/folder_helpers.h"

#include <cstring>

#include "foundation/errors.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

void StripTrailingSlashes(char *path)
{
    size_t n = strlen(path);
    while (n > 0 && path[n - 1] == '\\') path[--n] = 0;
}

int CreateFolder(const char *path)
{
    char folder[PATH_SIZE];
    CopyString(folder, sizeof folder, path, -1);
    StripTrailingSlashes(folder);
    if (PlatCreateFolder(folder)) return 1;
    if (PlatLastError() != PLAT_ERR_PATH_NOT_FOUND) return 1;
    ReportError("Unable to create folder %s", folder);
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}
