/* A stand-in for the game client on Windows: appends each of its arguments, one a line, to
   started.txt in its working folder, and ends at once. Built by test_windows.py with MinGW. */
#include <stdio.h>

int main(int argc, char** argv) {
    FILE* record = fopen("started.txt", "ab");
    if (record == NULL) return 1;
    for (int i = 1; i < argc; ++i) fprintf(record, "%s\n", argv[i]);
    return fclose(record) == 0 ? 0 : 1;
}
