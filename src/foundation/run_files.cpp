/* run_files.cpp -- the record of one run's files and the check of its writers. */
#include "foundation/run_files.h"

#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

static const char kMsgWouldReplace[] = "%s would replace %s, %s.";
static const char kMsgOneFile[] = "%s and %s would be written to one file, %s.";
static const char kGenericInput[] = "a file the run reads";

/* Where a file is, as far as the system can tell: its own identity when it
** exists, and the identity of its folder with its last name, which tells one
** file not made yet reached by two paths ("..", another path to the folder). */
struct FilePlace {
    std::string path;
    int exists = 0;
    PlatFileId id{};
    int folderKnown = 0;
    PlatFileId folder{};
    size_t nameAt = 0; /* where the last name starts in path */
};

struct RunFileEntry {
    FilePlace place;
    std::string what;
};

static struct {
    std::mutex lock;
    int kept = 0; /* nesting: the outermost Begin starts the record, its End drops it */
    std::vector<RunFileEntry> inputs, outputs;
    std::unordered_map<std::string, size_t> inputByPath; /* as written */
} gRunFiles;

static FilePlace LocateFile(const char *path)
{
    FilePlace place;
    place.path = path;
    place.exists = PlatGetFileId(path, &place.id);
    const char *slash = strrchr(path, '\\');
    const char *other = strrchr(path, '/');
    if (other && (!slash || other > slash)) slash = other;
    std::string folder = slash ? std::string(path, (size_t)(slash - path)) : std::string(".");
    /* The root itself (of "/x" or "C:\x"), not the current folder of a drive. */
    if (slash && (folder.empty() || folder.back() == ':')) folder = std::string(path, (size_t)(slash - path) + 1);
    place.nameAt = slash ? (size_t)(slash - path) + 1 : 0;
    place.folderKnown = PlatGetFileId(folder.c_str(), &place.folder);
    return place;
}

static bool SameId(const PlatFileId &a, const PlatFileId &b) { return a.volume == b.volume && a.index == b.index; }

/* One file by the places given: one identity, else one name in one folder,
** else (folders not there) one name as written.  A place kept from earlier
** may be stale (the file replaced or made since): a match is looked at
** again as the file is now (Confirmed). */
static bool SamePlace(const FilePlace &a, const FilePlace &b)
{
    if (a.exists && b.exists && SameId(a.id, b.id)) return true;
    if (a.folderKnown && b.folderKnown)
        return SameId(a.folder, b.folder) && ComparePaths(a.path.c_str() + a.nameAt, b.path.c_str() + b.nameAt) == 0;
    return ComparePaths(a.path.c_str(), b.path.c_str()) == 0;
}

/* Whether place is the file of the kept entry, looked at as it is now: the
** kept place decides cheaply which entries can match, and only those are
** looked at again.  An entry not there when kept is looked at again once it
** may have been written. */
static bool SameAsEntry(const FilePlace &place, FilePlace *kept)
{
    if (!SamePlace(place, *kept)) {
        if (!place.exists || kept->exists) return false;
        *kept = LocateFile(kept->path.c_str());
        if (!SamePlace(place, *kept)) return false;
    }
    return SamePlace(place, LocateFile(kept->path.c_str()));
}

int SameRunFile(const char *a, const char *b)
{
    return SamePlace(LocateFile(a ? a : ""), LocateFile(b ? b : ""));
}

void BeginRunFiles()
{
    std::lock_guard<std::mutex> hold(gRunFiles.lock);
    if (gRunFiles.kept++ > 0) return;
    gRunFiles.inputs.clear();
    gRunFiles.outputs.clear();
    gRunFiles.inputByPath.clear();
}

void EndRunFiles()
{
    std::lock_guard<std::mutex> hold(gRunFiles.lock);
    if (gRunFiles.kept > 0 && --gRunFiles.kept > 0) return;
    gRunFiles.inputs.clear();
    gRunFiles.outputs.clear();
    gRunFiles.inputByPath.clear();
}

int RunFilesKept()
{
    std::lock_guard<std::mutex> hold(gRunFiles.lock);
    return gRunFiles.kept;
}

void NoteRunInput(const char *path, const char *what)
{
    if (!path || !path[0] || PathTooLong(path)) return;
    std::lock_guard<std::mutex> hold(gRunFiles.lock);
    if (!gRunFiles.kept) return;
    auto found = gRunFiles.inputByPath.find(path);
    if (found != gRunFiles.inputByPath.end()) {
        RunFileEntry &entry = gRunFiles.inputs[found->second];
        if (what && entry.what == kGenericInput) entry.what = what;
        return;
    }
    FilePlace place = LocateFile(path);
    /* A file the run wrote and reads back (the results file it made) is its
    ** own, no input to keep. */
    for (RunFileEntry &out : gRunFiles.outputs)
        if (SameAsEntry(place, &out.place)) return;
    gRunFiles.inputByPath.emplace(path, gRunFiles.inputs.size());
    gRunFiles.inputs.push_back({std::move(place), what ? what : kGenericInput});
}

/* The words of a use at the start of a sentence. */
static std::string Capitalised(const std::string &what)
{
    std::string text = what;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = (char)(text[0] - 'a' + 'A');
    return text;
}

/* The refusal of path as what, "" when the run may write it: against the
** inputs, the outputs claimed, and the first count of the planned ones.
** Called with the lock held. */
static std::string FindClash(const FilePlace &place, const char *what, const FilePlace *planned,
                             const char *const *plannedWhat, int count, bool *claimed)
{
    char text[4 * PATH_SIZE];
    for (RunFileEntry &in : gRunFiles.inputs) {
        /* An input replaced since it was read (the results file the run
        ** saved) may have left its number to a file made later. */
        if (in.what == what || !SameAsEntry(place, &in.place)) continue;
        FormatText(text, sizeof text, kMsgWouldReplace, Capitalised(what).c_str(), in.what.c_str(),
                   in.place.path.c_str());
        return text;
    }
    for (RunFileEntry &out : gRunFiles.outputs) {
        if (!SameAsEntry(place, &out.place)) continue;
        if (out.what == what) {
            *claimed = true;
            continue;
        }
        FormatText(text, sizeof text, kMsgOneFile, Capitalised(out.what).c_str(), what, out.place.path.c_str());
        return text;
    }
    for (int k = 0; k < count; k++) {
        if (planned[k].path.empty() || strcmp(plannedWhat[k], what) == 0 || !SamePlace(place, planned[k])) continue;
        FormatText(text, sizeof text, kMsgOneFile, Capitalised(plannedWhat[k]).c_str(), what, planned[k].path.c_str());
        return text;
    }
    return "";
}

static int Refuse(const std::string &refusal)
{
    if (refusal.empty()) return 1;
    ReportError("%s", refusal.c_str());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

int ClaimRunOutput(const char *path, const char *what)
{
    if (!path || !path[0]) return 1;
    std::string refusal;
    {
        std::lock_guard<std::mutex> hold(gRunFiles.lock);
        if (!gRunFiles.kept) return 1;
        const FilePlace place = LocateFile(path);
        bool claimed = false;
        refusal = FindClash(place, what, nullptr, nullptr, 0, &claimed);
        if (refusal.empty() && !claimed) gRunFiles.outputs.push_back({place, what});
    }
    return Refuse(refusal);
}

int CheckPlannedRunOutputs(const char *const *paths, const char *const *whats, int count)
{
    std::string refusal;
    {
        std::lock_guard<std::mutex> hold(gRunFiles.lock);
        if (!gRunFiles.kept) return 1;
        std::vector<FilePlace> places;
        for (int k = 0; k < count && refusal.empty(); k++) {
            places.push_back(LocateFile(paths[k] ? paths[k] : ""));
            if (!paths[k] || !paths[k][0]) continue;
            bool claimed = false;
            refusal = FindClash(places.back(), whats[k], places.data(), whats, k, &claimed);
        }
    }
    return Refuse(refusal);
}
