/* A stand-in game: leaves a note of the folder it was started in. */
#include <stdio.h>
#include <windows.h>

int main(void) {
    char folder[MAX_PATH];
    DWORD n = GetCurrentDirectoryA(MAX_PATH, folder);
    FILE* f = fopen("started-here.txt", "wb");
    if (!f) return 1;
    fwrite(folder, 1, n, f);
    fclose(f);
    return 0;
}
