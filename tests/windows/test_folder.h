// A folder of its own for each test, so that what a test leaves behind
// (among it the renames queued for the next start) names that test alone.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

// Makes "<temp>\<prefix><process id>-<test name>" and returns its path,
// without a trailing backslash. A parameterised test's '/' becomes '-'.
inline std::string MakeTestFolder(const std::string& prefix)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + prefix + std::to_string(GetCurrentProcessId()) + "-" +
                         testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : folder)
        if (c == '/')
            c = '-';
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}
