// The example configuration folder served by a real device host of the test's
// own, with the ADA and AXSA calls of libKalvo bound by name. The folder is a
// copy of api/sample/config in the test's working directory; a test can give
// its board line another timeout multiplier ("TimeOutTimes_1").
//
// In the example folder ADA_1 sits at station 2 with four channels (offsets
// 0-3) and AXSA_1 at station 4 with four jobs (offsets 0-15).
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "host/network_admin.h"
#include "kalvo/kalvo.h"
#include "platform/flush_hooks.h"
#include "platform/module.h"
#include "tests/support/private_host.h"
#include "tests/support/temp_dir.h"

namespace kalvo::apitest {

#define KALVO_FAMILY_CALL(name) decltype(&::name) name = bind<decltype(&::name)>(#name)

// libKalvo loaded by path (the load reads Kalvo.ini from the current
// directory); unloading runs its detach when this was the last reference.
class FamilyCalls {
  public:
    FamilyCalls() : module_(platform::loadLibrary(KALVO_LIBRARY_PATH)) {}
    ~FamilyCalls() {
        if (module_) platform::freeLibrary(module_);
    }
    FamilyCalls(const FamilyCalls&) = delete;
    FamilyCalls& operator=(const FamilyCalls&) = delete;
    bool loaded() const { return module_ != nullptr; }

  private:
    template <typename Fn>
    Fn bind(const char* name) {
        return module_ ? reinterpret_cast<Fn>(platform::getProcAddress(module_, name)) : nullptr;
    }
    platform::ModuleHandle module_;

  public:
    KALVO_FAMILY_CALL(KV_BeginPeriod);
    KALVO_FAMILY_CALL(KV_EndPeriod);
    KALVO_FAMILY_CALL(KV_CheckBoard);
    KALVO_FAMILY_CALL(KV_AttachMemory);
    KALVO_FAMILY_CALL(KV_ADA_Open);
    KALVO_FAMILY_CALL(KV_ADA_OpenEx);
    KALVO_FAMILY_CALL(KV_ADA_Close);
    KALVO_FAMILY_CALL(KV_ADA_GetCondition);
    KALVO_FAMILY_CALL(KV_ADA_InValue);
    KALVO_FAMILY_CALL(KV_ADA_InValueFull);
    KALVO_FAMILY_CALL(KV_ADA_InOValue);
    KALVO_FAMILY_CALL(KV_ADA_InOValueFull);
    KALVO_FAMILY_CALL(KV_ADA_OutValue);
    KALVO_FAMILY_CALL(KV_ADA_OutValueFull);
    KALVO_FAMILY_CALL(KV_ADA_SetFilter);
    KALVO_FAMILY_CALL(KV_ADA_GetFilter);
    KALVO_FAMILY_CALL(KV_ADA_GetInRange);
    KALVO_FAMILY_CALL(KV_ADA_GetOutRange);
    KALVO_FAMILY_CALL(KV_ADA_GetVersion);
    KALVO_FAMILY_CALL(KV_ADA_PutCmd);
    KALVO_FAMILY_CALL(KV_AXSA_Open);
    KALVO_FAMILY_CALL(KV_AXSA_OpenEx);
    KALVO_FAMILY_CALL(KV_AXSA_Close);
    KALVO_FAMILY_CALL(KV_AXSA_GetCondition);
    KALVO_FAMILY_CALL(KV_AXSA_PutCmd);
    KALVO_FAMILY_CALL(KV_AXSA_Answer);
    KALVO_FAMILY_CALL(KV_AXSA_AnsWith);
    KALVO_FAMILY_CALL(KV_AXSA_GetStatus);
    KALVO_FAMILY_CALL(KV_AXSA_PutCmdEx);
    KALVO_FAMILY_CALL(KV_AXSA_PutForm);
    KALVO_FAMILY_CALL(KV_AXSA_PutFormEx);
    KALVO_FAMILY_CALL(KV_SIO_Open);
    KALVO_FAMILY_CALL(KV_SIO_OpenEx);
    KALVO_FAMILY_CALL(KV_SIO_Close);
    KALVO_FAMILY_CALL(KV_SIO_Config);
    KALVO_FAMILY_CALL(KV_SIO_PutData);
    KALVO_FAMILY_CALL(KV_SIO_GetData);
    KALVO_FAMILY_CALL(KV_SIO_ClearError);
    KALVO_FAMILY_CALL(KV_SIO_CheckBuffer);
    KALVO_FAMILY_CALL(KV_SIO_ClearBuffer);
    KALVO_FAMILY_CALL(KV_SIO_GetCondition);
};

#undef KALVO_FAMILY_CALL

// The limit only bounds a failing wait; generous for a loaded machine.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

// Copies the example folder into dir, with "TimeOutTimes_1" of board 1 set
// when timeOutTimes is not 0, and a log ini choosing the levels when logLevel is
// not empty ("FFFFFF1FH").
inline void writeSampleFolder(const std::string& dir, int timeOutTimes,
                              const std::string& logLevel) {
    std::ifstream in(std::string(KALVO_SAMPLE_CONFIG) + "/Kalvo.ini", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string ini = text.str();
    if (timeOutTimes != 0) {
        const size_t section = ini.find("[BOARD_1]");
        const size_t eol = ini.find('\n', section);
        if (section != std::string::npos && eol != std::string::npos) {
            const bool crlf = eol > 0 && ini[eol - 1] == '\r';
            ini.insert(eol + 1,
                       "TimeOutTimes_1=" + std::to_string(timeOutTimes) + (crlf ? "\r\n" : "\n"));
        }
    }
    std::ofstream(dir + "/Kalvo.ini", std::ios::binary) << ini;
    std::filesystem::copy_file(std::string(KALVO_SAMPLE_CONFIG) + "/ModelTbl.ini",
                               dir + "/ModelTbl.ini");
    if (!logLevel.empty())
        std::ofstream(dir + "/KalvoLog.ini") << "[LOG]\nLOGLEVEL=" << logLevel << "\n";
}

// Every log line the library's processes wrote in dir (all slots), stamps
// cut off.
inline std::string allLogText(const std::string& dir) {
    platform::runFlushHooks();  // the lines this process's libraries logged so far
    std::string text;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KalvoLog_", 0) != 0 || entry.path().extension() != ".log") continue;
        std::ifstream in(entry.path());
        std::stringstream s;
        s << in.rdbuf();
        text += s.str();
    }
    return text;
}

inline bool logHas(const std::string& dir, const std::string& text) {
    return allLogText(dir).find(text) != std::string::npos;
}

// A private device host serving the folder's network.
class SampleNetwork {
  public:
    SampleNetwork(const testing::IsolatedEnvironment& env, int timeOutTimes,
                  const std::string& logLevel = {})
        : admin_(env.work().file("devices")) {
        writeSampleFolder(env.workDir(), timeOutTimes, logLevel);
        started_ = host_.start(env.work().file("devices"), env.work().file("devhost.log"),
                               "tolva:id=0", &why_, {"--network", env.workDir()});
    }
    ~SampleNetwork() { host_.stop(); }

    bool started() const { return started_; }
    const std::string& why() const { return why_; }
    std::string hostLog() const { return host_.log(); }
    int stop() { return host_.stop(); }
    kernel::host::NetworkAdmin& admin() { return admin_; }
    bool unitShows(const std::string& unit, const std::string& text) {
        return eventually(
            [&] { return admin_.describeUnit(unit).find(text) != std::string::npos; });
    }

  private:
    drivertest::PrivateHost host_;
    kernel::host::NetworkAdmin admin_;
    bool started_ = false;
    std::string why_;
};

// The 16-bit words of GM block `block` (0-63) of the board's window as the
// master holds them: the window mapped into this process by KV_AttachMemory.
inline uint64_t gmBlock(void* window, int block) {
    auto* base = static_cast<volatile uint8_t*>(window) + 0x200;
    return reinterpret_cast<volatile uint64_t*>(base)[block];
}

inline uint16_t blockWord(uint64_t block, int word) {
    return static_cast<uint16_t>(block >> (16 * word));
}

}  // namespace kalvo::apitest
