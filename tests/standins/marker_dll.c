/* A DLL that only says it was loaded: on attach it appends its own file name and the program it
 * was loaded into to "markers-loaded.txt" in its folder. Copied under the names of system DLLs
 * beside a program, it shows which of them the program would take from its own folder. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    wchar_t path[MAX_PATH] = {0};
    wchar_t program[MAX_PATH] = {0};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    GetModuleFileNameW(NULL, program, MAX_PATH);
    DWORD cut = length;
    while (cut > 0 && path[cut - 1] != L'\\') --cut;
    wchar_t record[MAX_PATH] = {0};
    lstrcpynW(record, path, (int)cut + 1);
    lstrcatW(record, L"markers-loaded.txt");
    const HANDLE file = CreateFileW(record, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        char line[2 * MAX_PATH + 4] = {0};
        int used = WideCharToMultiByte(CP_UTF8, 0, path + cut, -1, line, MAX_PATH, NULL, NULL);
        if (used > 0) {
            line[used - 1] = '\t';
            int more = WideCharToMultiByte(CP_UTF8, 0, program, -1, line + used, MAX_PATH, NULL, NULL);
            if (more > 0) {
                line[used + more - 1] = '\n';
                DWORD written = 0;
                WriteFile(file, line, (DWORD)(used + more), &written, NULL);
            }
        }
        CloseHandle(file);
    }
    return TRUE;
}
