#include "support/test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/platform.h"

static void RemoveTree(const std::string &path)
{
    struct Ctx {
        std::vector<std::pair<std::string, int>> items;
    } ctx;
    PlatListFolder((path + "\\*").c_str(), [](const char *name, int isFolder, void *user) {
        ((Ctx *)user)->items.push_back({name, isFolder});
        return 1;
    },
                   &ctx);
    for (auto &it : ctx.items) {
        std::string full = path + "\\" + it.first;
        if (it.second)
            RemoveTree(full);
        else
            PlatDeleteFile(full.c_str());
    }
    PlatRemoveFolder(path.c_str());
}

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    char base[1024];
    if (!PlatGetEnv("TMPDIR", base, sizeof base) && !PlatGetEnv("TEMP", base, sizeof base))
        snprintf(base, sizeof base, "%s", PlatLibrarySuffix()[1] == 'd' ? "C:\\windows\\temp" : "/tmp");
    char name[1200];
    snprintf(name, sizeof name, "%s\\kvtest_%u_%llu_%d", base, PlatCurrentThreadId(),
             (unsigned long long)PlatTickCount64(), counter++);
    path = name;
    RemoveTree(path);
    PlatCreateFolder(path.c_str());
}

TempFolder::~TempFolder() { RemoveTree(path); }

std::string TempFolder::File(const std::string &name) const { return path + "\\" + name; }

bool WriteTestFile(const std::string &path, const std::string &bytes)
{
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    if (!f) return false;
    uint32_t written = 0;
    bool ok = PlatWriteFile(f, bytes.data(), (uint32_t)bytes.size(), &written) && written == bytes.size();
    return PlatCloseFile(f) && ok;
}

bool WriteSparseTestFile(const std::string &path, uint64_t size)
{
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    if (!f) return false;
    bool ok = PlatSeekFile(f, (int64_t)size, 0, nullptr) && PlatSetEndOfFile(f);
    return PlatCloseFile(f) && ok;
}

std::string ReadTestFile(const std::string &path)
{
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_OPEN_READ);
    if (!f) return {};
    uint64_t size = 0;
    PlatGetFileSize(f, &size);
    std::string s(size, '\0');
    uint32_t got = 0;
    PlatReadFile(f, s.data(), (uint32_t)size, &got);
    PlatCloseFile(f);
    s.resize(got);
    return s;
}

std::string ListTestFolder(const std::string &folder)
{
    std::vector<std::string> names;
    PlatListFolder((folder + "\\*").c_str(),
                   [](const char *name, int, void *user) {
                       ((std::vector<std::string> *)user)->emplace_back(name);
                       return 1;
                   },
                   &names);
    std::sort(names.begin(), names.end());
    std::string out;
    for (const std::string &n : names) out += n + ";";
    return out;
}

std::string MakePathOfLength(const std::string &folder, size_t length, const std::string &name,
                             const std::string &letter)
{
    const size_t want = length - PathLetters(name.c_str()) - 1;
    std::string path = folder;
    size_t letters = PathLetters(path.c_str());
    if (letters + 2 > want) return "";
    while (letters < want) {
        const size_t left = want - letters - 1, count = left > 60 && left - 60 >= 2 ? 60 : left;
        path += "\\";
        for (size_t k = 0; k < count; k++) path += letter;
        letters += 1 + count;
        if (!PlatCreateFolder(path.c_str())) return "";
    }
    return path + "\\" + name;
}

std::string TestProgramFolder()
{
    char buf[1024];
    return PlatGetProgramFolder(buf, sizeof buf) ? std::string(buf) : std::string(".");
}
