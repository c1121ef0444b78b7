// Reading one key of a full-size "Kalvo.ini" (four boards, every station
// section written), against only opening and reading the same file: the
// cost of finding the key on top of the file read it cannot avoid.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "bench/ratio_reporter.h"
#include "platform/profile.h"

namespace {

class KalvoIniFile {
  public:
    KalvoIniFile() {
        char pattern[] = "/tmp/kalvo-bench-XXXXXX";
        if (mkdtemp(pattern)) dir_ = pattern;
        path_ = dir_ + "/Kalvo.ini";
        std::string text = "[KALVO]\r\nConfigTool=1\r\nBoard=4\r\n";
        char line[128];
        for (int b = 1; b <= 4; ++b) {
            std::snprintf(line, sizeof line,
                          "[BOARD_%d]\r\nKind=Pcimaster64\r\nLineMax=1\r\nStationAddr_1=0\r\n"
                          "StationSize_1=32\r\n",
                          b);
            text += line;
        }
        for (int b = 1; b <= 4; ++b) {
            for (int s = 0; s < 32; ++s) {
                std::snprintf(line, sizeof line, "[DIO_%d]\r\nBoard=%d\r\nLine=1\r\nBase=%d\r\n",
                              (b - 1) * 32 + s + 1, b, s);
                text += line;
                text += "Offset=0,1,2,3\r\n";
            }
        }
        for (int b = 1; b <= 4; ++b) {
            for (int s = 0; s < 32; ++s) {
                std::snprintf(line, sizeof line, "[CTR_%d_1_%d]\r\nMstFlg=1\r\n", b, s);
                text += line;
                for (int u = 0; u < 4; ++u) {
                    std::snprintf(line, sizeof line, "Unit_%d=DIO-16\r\nCode_%d=%d\r\n", u, u, u);
                    text += line;
                }
            }
        }
        if (FILE* f = std::fopen(path_.c_str(), "wb")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    ~KalvoIniFile() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::string& path() const { return path_; }

  private:
    std::string dir_;
    std::string path_;
};

void ProfileGetIntLastUnit(benchmark::State& state) {
    KalvoIniFile ini;
    for (auto _ : state) {
        benchmark::DoNotOptimize(kalvo::platform::profileGetInt(ini.path(), "DIO_128", "Base", -1));
    }
}
BENCHMARK(ProfileGetIntLastUnit);

void ReadWholeFileOnly(benchmark::State& state) {
    KalvoIniFile ini;
    std::string text;
    for (auto _ : state) {
        int fd = ::open(ini.path().c_str(), O_RDONLY | O_CLOEXEC);
        char chunk[65536];
        text.clear();
        ssize_t n;
        while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, n);
        ::close(fd);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(ReadWholeFileOnly);

// A read parses the file each time; it may cost a few times the bare read.
KALVO_RATIO("ProfileGetIntLastUnit", "ReadWholeFileOnly", 5.0);

}  // namespace
