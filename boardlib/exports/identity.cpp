// The identity calls: no board, no check, no log line.
#include <cstring>

#include "boardlib/frame/build_parameters.h"
#include "kalvo/board_library.h"

using kalvo::boardlib::kBuild;

extern "C" {

void KV_boardname(char* name) {
    if (name != nullptr) std::strcpy(name, kBuild.boardName);
}

void KV_dllname(char* name) {
    if (name != nullptr) std::strcpy(name, kBuild.dllName);
}

void KV_version(char* version) {
    if (version != nullptr) std::strcpy(version, kalvo::boardlib::kVersion);
}

int32_t KV_maxline(void) {
    return kalvo::boardlib::kMaxLine;
}

}  // extern "C"
