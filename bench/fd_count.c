/* Preloaded into the host qdlload by bench/soak: writes the number of open descriptors when the
 * process starts and when it ends (after main and every static destructor of the program) to
 * the file that SOAK_FD_REPORT names, as "START END". */
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>

static int g_at_start = -1;

static int OpenDescriptors(void) {
    DIR* folder = opendir("/proc/self/fd");
    if (folder == NULL) {
        return -1;
    }
    int count = 0;
    for (struct dirent* entry = readdir(folder); entry != NULL; entry = readdir(folder)) {
        if (entry->d_name[0] != '.') {
            ++count;
        }
    }
    closedir(folder);
    return count - 1; /* the folder's own descriptor */
}

__attribute__((constructor)) static void AtStart(void) {
    g_at_start = OpenDescriptors();
}

__attribute__((destructor)) static void AtEnd(void) {
    const char* report = getenv("SOAK_FD_REPORT");
    if (report == NULL) {
        return;
    }
    int at_end = OpenDescriptors();
    FILE* file = fopen(report, "w");
    if (file != NULL) {
        fprintf(file, "%d %d\n", g_at_start, at_end);
        fclose(file);
    }
}
