/* A C program loads libKalvo in its configuration folder, changes to another
 * folder, logs past a file switch and unloads: every file the libraries
 * write later (the log files after the switch, the log ini keys written at
 * unload, the board library's log and ini) lands in the folder of the load,
 * and the runtime namespace given as a relative folder is the one of the
 * load too (the log slot map made there is removed from there at unload).
 * The program is a child of this one, whose end is the unload at the latest
 * (dlclose leaves libKalvo loaded while a board library it loaded lives).
 *
 * usage: load_folder_files LIBKALVO SCRATCH-FOLDER; exit 0 when all holds. */
#define _GNU_SOURCE
#include <dirent.h>
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kalvo/kalvo.h"

static int failures = 0;

static void expect(int ok, const char* what, const char* where) {
    if (!ok) {
        fprintf(stderr, "FAILED: %s (%s)\n", what, where);
        ++failures;
    }
}

static void writeText(const char* path, const char* text) {
    FILE* f = fopen(path, "wb");
    if (!f || fputs(text, f) < 0 || fclose(f) != 0) {
        perror(path);
        exit(2);
    }
}

static char* readText(const char* path) {
    static char text[65536];
    FILE* f = fopen(path, "rb");
    size_t n = f ? fread(text, 1, sizeof text - 1, f) : 0;
    if (f) fclose(f);
    text[n] = '\0';
    return text;
}

static int lines(const char* path) {
    int n = 0;
    for (const char* p = readText(path); (p = strstr(p, "\r\n")) != NULL; p += 2) ++n;
    return n;
}

static int fileExists(const char* folder, const char* name) {
    char path[4096];
    struct stat st;
    snprintf(path, sizeof path, "%s/%s", folder, name);
    return stat(path, &st) == 0;
}

/* Entries of a folder whose names start with prefix ("" for all). */
static int entries(const char* folder, const char* prefix) {
    int n = 0;
    DIR* d = opendir(folder);
    if (!d) return -1;
    for (struct dirent* e; (e = readdir(d)) != NULL;)
        if (e->d_name[0] != '.' && strncmp(e->d_name, prefix, strlen(prefix)) == 0) ++n;
    closedir(d);
    return n;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s LIBKALVO SCRATCH-FOLDER\n", argv[0]);
        return 2;
    }
    char root[1024], load[2048], other[2048], path[4096];
    if (strlen(argv[2]) > 900) return 2;
    snprintf(root, sizeof root, "%s/load-folder-XXXXXX", argv[2]);
    if (!mkdtemp(root)) {
        perror(root);
        return 2;
    }
    snprintf(load, sizeof load, "%s/config", root);
    snprintf(other, sizeof other, "%s/elsewhere", root);
    if (mkdir(load, 0755) != 0 || mkdir(other, 0755) != 0) return 2;
#define IN_LOAD(name) (snprintf(path, sizeof path, "%s/%s", load, name), path)
    /* Two lines a file: the third line of each log switches files. One board
     * whose device no host serves: its library loads, logs and unloads. */
    writeText(IN_LOAD("KalvoLog.ini"), "[LOG]\r\nLOGMAXLINE=2\r\n");
    writeText(IN_LOAD("Pcimaster64Log.ini"), "[LOG]\r\nLOGLEVEL=10007H\r\nLOGMAXLINE=2\r\n");
    writeText(IN_LOAD("Kalvo.ini"),
              "[Kalvo]\r\nBoard=1\r\n[Board_1]\r\nKind=Pcimaster64\r\nStationAddr_1=0\r\n"
              "StationSize_1=32\r\n");
    if (mkdir(IN_LOAD("runtime"), 0700) != 0) return 2;
    snprintf(path, sizeof path, "%s/no-host", root);
    setenv("KALVO_DEVICE_DIR", path, 1);
    setenv("KALVO_RUNTIME_DIR", "runtime", 1);

    const pid_t child = fork();
    if (child < 0) return 2;
    if (child == 0) {
        if (chdir(load) != 0) _exit(2);
        void* kalvo = dlopen(argv[1], RTLD_NOW);
        if (!kalvo) {
            fprintf(stderr, "%s\n", dlerror());
            _exit(2);
        }
        if (chdir(other) != 0) _exit(2);
        __typeof__(KV_CheckBoard)* checkBoard =
            (__typeof__(KV_CheckBoard)*)dlsym(kalvo, "KV_CheckBoard");
        __typeof__(KV_BeginPeriod)* beginPeriod =
            (__typeof__(KV_BeginPeriod)*)dlsym(kalvo, "KV_BeginPeriod");
        if (!checkBoard || !beginPeriod) _exit(2);
        for (int i = 0; i < 5; ++i) {
            checkBoard(1);
            beginPeriod();
        }
        dlclose(kalvo);
        exit(0);
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "the program did not end normally (status %#x)\n", status);
        return 1;
    }

    expect(entries(other, "") == 0, "nothing is written in the folder changed to", other);
    static const char* const logs[] = {"KalvoLog", "Pcimaster64Log"};
    for (int i = 0; i < 2; ++i) {
        char name[64];
        snprintf(name, sizeof name, "%s_0000.log", logs[i]);
        expect(lines(IN_LOAD(name)) >= 1, "the first file", path);
        snprintf(name, sizeof name, "%s_0001.log", logs[i]);
        expect(lines(IN_LOAD(name)) >= 1, "the file after a switch", path);
        snprintf(name, sizeof name, "%s.ini", logs[i]);
        const char* ini = readText(IN_LOAD(name));
        expect(strstr(ini, "FILENO_00=") && strstr(ini, "LOGLINE_00="),
               "the slot's keys written at unload", path);
    }
    /* The slot maps were made in the runtime folder of the load and removed
     * from it at the last close; the rings of the log lines went too. */
    expect(entries(IN_LOAD("runtime"), "KalvoLog") == 1, "only the slots side file is left", path);
    expect(!fileExists(load, "runtime/KalvoLog%2EMap"), "the slot map removed", load);
    expect(!fileExists(other, "runtime"), "no runtime folder beside the other folder", other);

    snprintf(path, sizeof path, "rm -rf '%s'", root);
    if (failures == 0 && system(path) != 0) return 2;
    return failures == 0 ? 0 : 1;
}
