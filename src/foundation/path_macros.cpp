/* path_macros.cpp -- expansion of ?name? macros in file names. */
#include "foundation/path_macros.h"

#include <cstring>
#include <string>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "platform/platform.h"
#include "services/services.h"

const char *gCompilingScriptPath = nullptr;
const char *gSlatewickFolderSetting = nullptr;

/* The program's folder macros.  They are expanded last, from the program's
** own folders; the environment step passes them by, so a variable of the
** same name cannot redirect the program's files. */
static const char *const kFolderMacroNames[4] = {"kestovar", "scripts", "data", "output"};

/* Rebuilds path as text before + value + text after for the length bytes at
** offset; 0 (path unchanged) when the result would exceed 258 letters.  The
** bytes replaced are a macro's name between question marks, so the letters
** around them stay whole. */
static int Splice(char *path, size_t offset, size_t length, const char *value)
{
    size_t total = strlen(path), valueLength = strlen(value);
    if (PathLetters(path) - PathLetters(path + offset, length) + PathLetters(value) > PATH_MACRO_MAX) return 0;
    memmove(path + offset + valueLength, path + offset + length, total - offset - length + 1);
    memcpy(path + offset, value, valueLength);
    return 1;
}

/* Replaces every occurrence of macro, going on after each inserted value so a
** value that holds the macro's own name is not expanded again. */
static int ReplaceAll(char *path, const char *macro, const char *value)
{
    size_t macroLength = strlen(macro), valueLength = strlen(value);
    size_t from = 0;
    for (;;) {
        const char *hit = FindTextNoCase(path + from, macro);
        if (!hit) return 1;
        size_t offset = (size_t)(hit - path);
        if (!Splice(path, offset, macroLength, value)) return 0;
        from = offset + valueLength;
    }
}

int IsPathSeparator(char c)
{
    return c == '\\' || c == '/';
}

const char *FindLastPathSeparator(const char *path)
{
    const char *last = nullptr;
    for (const char *p = path; *p; p++)
        if (IsPathSeparator(*p)) last = p;
    return last;
}

int HasPathSeparator(const char *text)
{
    for (const char *p = text; *p; p++)
        if (IsPathSeparator(*p)) return 1;
    return 0;
}

std::string PathFromCurrentFolder(const std::string &typed)
{
    std::string path = typed;
    const bool rooted = !path.empty() && (IsPathSeparator(path[0]) || (path.size() > 1 && path[1] == ':'));
    char full[4096];
    if (!path.empty() && !rooted && PlatFileExists(path.c_str())) {
        if (PlatFullPath(path.c_str(), full, sizeof full)) path = full;
    }
    for (char &c : path)
        if (c == '/') c = '\\';
#ifdef _WIN32
    /* Rooted without a drive ("\dir\t.kvs" or "/dir/t.kvs", not a share's
    ** "\\server"): on the drive of the folder it was typed in, as the system
    ** reads it there (Wine alone would take "/dir" for its own root).
    ** Start-up moves the current folder to the program's own folders, which
    ** may be on another drive. */
    if (path.size() > 1 && path[0] == '\\' && path[1] != '\\' && PlatFullPath(path.c_str(), full, sizeof full))
        path = full;
#endif
    return path;
}

int ReplacePathMacro(char path[PATH_SIZE], const char *macro, const char *value)
{
    char trimmed[PATH_SIZE];
    int n = CopyString(trimmed, sizeof trimmed, value ? value : "", -1);
    while (n > 0 && IsPathSeparator(trimmed[n - 1])) trimmed[--n] = 0;
    return ReplaceAll(path, macro, trimmed);
}

static int ReplaceNumber(char *path, const char *macro, int value)
{
    char text[16];
    FormatText(text, sizeof text, "%d", value);
    return ReplaceAll(path, macro, text);
}

/* Step 9: every other ?name? that is an environment variable is replaced by
** its value; anything else, and the program's folder macros, stays. */
static int ReplaceEnvironmentMacros(char *path)
{
    size_t from = 0;
    for (;;) {
        char *open = strchr(path + from, '?');
        if (!open) return 1;
        char *close = strchr(open + 1, '?');
        if (!close) return 1;
        size_t nameLength = (size_t)(close - open - 1);
        char name[PATH_SIZE];
        CopyString(name, sizeof name, open + 1, (int)nameLength);
        int folderMacro = 0;
        for (const char *m : kFolderMacroNames)
            if (CompareNoCase(name, m) == 0) folderMacro = 1;
        char value[PATH_SIZE + 1];
        size_t offset = (size_t)(open - path);
        if (!folderMacro && nameLength > 0 && PlatGetEnv(name, value, sizeof value)) {
            if (!Splice(path, offset, nameLength + 2, value)) return 0;
            from = offset + strlen(value);
        } else {
            from = (size_t)(close - path) + 1;
        }
    }
}

/* The script the script macros describe: the one being compiled, else the
** ActiveScript setting. */
static const char *CurrentScript()
{
    return gCompilingScriptPath && gCompilingScriptPath[0] ? gCompilingScriptPath : gSettings.ActiveScript;
}

int ExpandPathMacros(char path[PATH_SIZE], const char *base)
{
    /* The name as written, read as UTF-8 before anything is put around it: a
    ** script saved in code page 1252 names the same file in both programs,
    ** and its 1252 letters stay its own when the folders put in are UTF-8. */
    if (!NameToUtf8(path, PATH_SIZE)) return 0;
    char value[PATH_SIZE];
    PlatDateTime now;
    PlatGetLocalTime(&now);

    PlatGetDesktopFolder(value, sizeof value);
    if (!ReplaceAll(path, "?desktop?", value)) return 0;
    if (!ReplaceNumber(path, "?date?", (now.year * 100 + now.month) * 100 + now.day)) return 0;
    if (!ReplaceNumber(path, "?time?", (now.hour * 100 + now.minute) * 100 + now.second)) return 0;
    if (!ReplaceNumber(path, "?orderdate?", gRun.orderDate)) return 0;
    if (!ReplaceAll(path, "?testname?", gSettings.TestName)) return 0;
    if (!ReplacePathMacro(path, "?swfolder?", gSlatewickFolderSetting)) return 0;

    const char *script = CurrentScript();
    const char *slash = FindLastPathSeparator(script);
    CopyString(value, sizeof value, script, slash ? (int)(slash - script) : 0);
    if (!ReplaceAll(path, "?scriptpath?", value)) return 0;
    /* The name is cut at the last dot of the file name, not of a folder. */
    const char *file = slash ? slash + 1 : script;
    const char *dot = strrchr(file, '.');
    CopyString(value, sizeof value, file, dot ? (int)(dot - file) : -1);
    if (!ReplaceAll(path, "?scriptname?", value)) return 0;

    if (!ReplaceEnvironmentMacros(path)) return 0;

    if (!ReplacePathMacro(path, "?kestovar?", gProgramFolder)) return 0;
    if (!ReplacePathMacro(path, "?scripts?", gScriptsFolder)) return 0;
    if (!ReplacePathMacro(path, "?data?", gDataFolder)) return 0;
    if (!ReplacePathMacro(path, "?output?", gOutputFolder)) return 0;

    if (!base) {
        if (FindTextNoCase(path, ".kvd"))
            base = gDataFolder;
        else if (FindTextNoCase(path, ".kvr"))
            base = gOutputFolder;
        else
            base = gScriptsFolder;
    }
    /* '/' counts as a root too: the Linux build's absolute paths start with it. */
    if (!base[0] || !path[0] || path[0] == '\\' || path[0] == '/' || path[1] == ':') return 1;
    size_t baseLength = strlen(base);
    const char *separator = IsPathSeparator(base[baseLength - 1]) ? "" : "\\";
    if (PathLetters(base) + strlen(separator) + PathLetters(path) > PATH_MACRO_MAX) return 0;
    char joined[PATH_SIZE * 2];
    FormatText(joined, sizeof joined, "%s%s%s", base, separator, path);
    CopyString(path, PATH_SIZE, joined, -1);
    return 1;
}
