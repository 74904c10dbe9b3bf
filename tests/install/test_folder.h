#pragma once
// A fresh folder under the temporary folder for one test, removed afterwards, and the test
// program's installation log, opened once in that temporary folder before the first test.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "common/log.h"
#include "install/run_folder/cleanup.h"

class TestFolder {
public:
    explicit TestFolder(const std::wstring& name) {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        m_path = std::wstring(temp) + L"qv-install-test-" + name + L"-" + std::to_wstring(GetCurrentProcessId());
        RemoveFolderTree(m_path);
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~TestFolder() { RemoveFolderTree(m_path); }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

class TestLog {
public:
    static std::wstring Path() {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        return std::wstring(temp) + L"qv-install-test-log-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    }
    static void Open() { OpenLog(Path()); }
    static std::string Text() {
        std::ifstream file(std::filesystem::path(Path()), std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        std::string text = content.str();  // lines end in CR LF on Windows
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    static int Count(const std::string& text, const std::string& piece) {
        int count = 0;
        for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
        return count;
    }
};

class TestLogEnvironment : public testing::Environment {
public:
    void SetUp() override { TestLog::Open(); }
};
// One registration for the whole test program, whichever of its files include this header.
inline testing::Environment* const g_testLogEnvironment = testing::AddGlobalTestEnvironment(new TestLogEnvironment);
