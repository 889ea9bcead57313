/* test_support.h -- helpers shared by the test programs. */
#pragma once
#include <cstdint>
#include <string>

/* A fresh, empty folder for one test, removed with its contents when the
** object goes away.  Paths use '\' like the program's own. */
struct TempFolder {
    std::string path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    /* path + "\" + name */
    std::string File(const std::string &name) const;
};

/* Writes bytes to a file through the platform layer; true on success. */
bool WriteTestFile(const std::string &path, const std::string &bytes);
/* Makes a file of size zero bytes without writing them (the file system
** keeps it sparse, so 4 GB cost no disk); true on success. */
bool WriteSparseTestFile(const std::string &path, uint64_t size);
/* Reads a whole file; empty string when it cannot be read. */
std::string ReadTestFile(const std::string &path);
/* The names in a folder, sorted, each followed by ';' ("" when empty). */
std::string ListTestFolder(const std::string &folder);
/* Makes folders under folder, each name 60 letters at most (of letter, one
** UTF-8 letter), down to one in which name makes a path of length letters:
** that path ("" when the folders cannot be made or folder is too long for
** it).  Sixty letters of four bytes still make a name every system takes. */
std::string MakePathOfLength(const std::string &folder, size_t length, const std::string &name,
                             const std::string &letter = "d");
/* The folder of the running test program. */
std::string TestProgramFolder();
