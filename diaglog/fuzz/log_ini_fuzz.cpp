// The log ini ("KalvoLog.ini", section "LOG"): any bytes as the file a log
// opens with. Its level, line limit and slot counters are read, a few lines
// written (a tiny or negative "LOGMAXLINE" switches files at once) and the
// counters written back, then the log opened again on what was written;
// nothing may crash.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "diaglog/log_facility.h"
#include "diaglog/profile_file.h"

namespace {

std::string gDir;

void removeDir() {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

}  // namespace

// A private folder for the files and a private runtime namespace for the
// log's slot map, removed at exit.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char dir[] = "/tmp/kalvo-log-ini-fuzz-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    gDir = dir;
    std::filesystem::create_directory(gDir + "/runtime");
    ::setenv("KALVO_RUNTIME_DIR", (gDir + "/runtime").c_str(), 1);
    std::atexit(removeDir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (gDir.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    std::string ini = gDir + "/KalvoLog.ini";
    if (FILE* f = std::fopen(ini.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    kalvo::diaglog::ProfileFile profile;
    profile.setFile(ini.c_str());
    uint32_t level = profile.getHex("LOG", "LOGLEVEL", 0xFFFFFFFFu);
    profile.getInt("LOG", "LOGMAXLINE", 1000);
    char text[64];
    profile.getString("LOG", "LOGLEVEL", "", text, sizeof text);

    {
        kalvo::diaglog::LogFacility log;
        std::string base = gDir + "/FuzzLog";
        if (log.open(base.c_str(), ini.c_str(), "KalvoFuzzLogMap", level)) {
            for (int i = 0; i < 4; ++i) log.writef(0xFFFFFFFFu, "line %d of %s", i, "fuzz");
            log.close();
        }
    }
    // What close wrote back is a log ini the next open reads.
    {
        kalvo::diaglog::LogFacility again;
        std::string base = gDir + "/FuzzLog";
        if (again.open(base.c_str(), ini.c_str(), "KalvoFuzzLogMap", level)) again.close();
    }
    for (const auto& entry : std::filesystem::directory_iterator(gDir))
        if (entry.path().extension() == ".log") std::filesystem::remove(entry.path());
    return 0;
}
