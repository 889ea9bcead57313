/* rename_wait_test.cpp -- Windows refuses to put a file in place of one that
** another program has open: a save then waits until the reader lets go
** instead of failing. */
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/test_support.h"

#include <windows.h>

namespace {

HANDLE gWaiting;
void NoteWait(const char *) { SetEvent(gWaiting); }

struct RenameCall {
    PlatFile held;
    std::string temp, target;
    int result;
};

DWORD WINAPI RenameHeld(void *param)
{
    RenameCall *call = (RenameCall *)param;
    call->result = PlatRenameOpenFile(call->held, call->temp.c_str(), call->target.c_str());
    return 0;
}

/* A writer's rename over a file another program is reading waits until the
** reader has closed it, then puts the new file in place. */
TEST(PlatformRename, ASaveWaitsForAReaderOfTheFileItReplaces)
{
    TempFolder tmp;
    const std::string target = tmp.File("shared.kvr");
    ASSERT_TRUE(WriteTestFile(target, "old"));
    RenameCall call = {nullptr, tmp.File("shared.kvr.~kvab12cd"), target, -1};
    call.held = PlatOpenFile(call.temp.c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(nullptr, call.held);
    uint32_t written = 0;
    ASSERT_TRUE(PlatWriteFile(call.held, "new", 3, &written));
    HANDLE reader = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    gWaiting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gPlatRenameWaits = NoteWait;
    HANDLE thread = CreateThread(nullptr, 0, RenameHeld, &call, 0, nullptr);
    HANDLE either[2] = {gWaiting, thread};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, either, FALSE, 60000)) << "the rename did not wait";
    CloseHandle(reader);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    gPlatRenameWaits = nullptr;
    CloseHandle(gWaiting);
    EXPECT_EQ(1, call.result);
    PlatCloseFile(call.held);
    EXPECT_EQ("new", ReadTestFile(target));
}

} // namespace
