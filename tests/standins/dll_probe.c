/* Loads the DLL named on its command line the ordinary way (the program's folder first) and
 * prints whether that worked: the control that shows a planted marker DLL is noticed. */
#include <stdio.h>
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const HMODULE module = LoadLibraryW(argv[1]);
    printf("%s\n", module ? "loaded" : "not loaded");
    return module ? 0 : 1;
}
