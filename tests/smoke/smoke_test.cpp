#include <gtest/gtest.h>
#include <windows.h>
#include <unzip.h>
#include <zlib.h>

TEST(Smoke, RunsAsWindowsProgram) {
    wchar_t path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    EXPECT_NE(nullptr, wcsstr(path, L".exe"));
    EXPECT_EQ(0xCBF43926u, crc32(0, reinterpret_cast<const Bytef*>("123456789"), 9));
}
