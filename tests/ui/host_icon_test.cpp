// The rows' image is the host's icons\noblock.ico, found beside the host's
// program. A missing file or a folder path too long for the name leaves the
// rows without an image, and nothing is written past the path's buffer.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/window_driver.h"

namespace {

const char kExpectedImages[] = "QUORVEL_EXPECTED_HOST_IMAGES";
const size_t kIconName = std::strlen("\\icons\\noblock.ico");

// Opens the settings dialog and returns how many images its rows can show.
int HostImagesInSettings() {
    LoadedPlugin plugin("ann@example.com\r\n");
    WindowScript script;
    int count = -1;
    script.Then([&](HWND editor) {
        auto images = reinterpret_cast<HIMAGELIST>(
            SendMessageA(ListOf(editor), LVM_GETIMAGELIST, LVSIL_SMALL, 0));
        count = images ? ImageList_GetImageCount(images) : -1;
        Click(editor, IDCANCEL);
    });
    EXPECT_EQ(plugin.ShowSettings(nullptr), 0);
    return count;
}

class HostIcon : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { RegisterListView(); }
    void TearDown() override { PlaceHostIcon(); }
};

TEST_F(HostIcon, MissingFileLeavesTheRowsWithoutImage) {
    PlaceHostIcon();
    EXPECT_EQ(HostImagesInSettings(), 1);
    std::filesystem::remove(HostIconPath());
    EXPECT_EQ(HostImagesInSettings(), 0);
}

// This program again, copied into a folder whose path is exactly `length`
// bytes long, with the module and the host's icon beside it; returns the exit
// code of its HostIconChild test.
DWORD RunFromFolderOfLength(const TempFolder& temp, size_t length, int expectedImages) {
    const std::string base = temp.path().string() + "\\";
    EXPECT_GT(length, base.size());
    const std::filesystem::path folder = base + std::string(length - base.size(), 'h');
    EXPECT_EQ(folder.string().size(), length);
    std::filesystem::create_directories(folder / "icons");
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::filesystem::path program = folder / std::filesystem::path(self).filename();
    std::filesystem::copy_file(self, program);
    std::filesystem::copy_file(BuildFolder() / "quorvel.dll", folder / "quorvel.dll");
    std::error_code ignored;  // a name that does not fit may not be creatable either
    std::filesystem::copy_file(HostIconPath(), folder / "icons" / "noblock.ico", ignored);

    std::string command = "\"" + program.string() + "\" --gtest_filter=HostIconChild.*";
    SetEnvironmentVariableA(kExpectedImages, std::to_string(expectedImages).c_str());
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessA(program.string().c_str(), &command[0], nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, &startup, &process);
    SetEnvironmentVariableA(kExpectedImages, nullptr);
    EXPECT_TRUE(started) << "error " << GetLastError();
    if (!started) return 99;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

TEST_F(HostIcon, APathWithNoRoomForTheNameLoadsNoIcon) {
    PlaceHostIcon();
    TempFolder temp;
    // The icon's full path takes 259 bytes and its zero byte, then one more.
    EXPECT_EQ(RunFromFolderOfLength(temp, 259 - kIconName, 1), 0u) << "fits exactly";
    EXPECT_EQ(RunFromFolderOfLength(temp, 260 - kIconName, 0), 0u) << "one byte short";
}

// Runs only in the copies made above.
TEST(HostIconChild, ImagesAsExpected) {
    const char* expected = std::getenv(kExpectedImages);
    if (!expected) GTEST_SKIP() << "run by HostIcon.APathWithNoRoomForTheNameLoadsNoIcon";
    RegisterListView();
    EXPECT_EQ(HostImagesInSettings(), std::atoi(expected));
}

}  // namespace
