// A program linked at build time against a module whose attach fails: it
// must stop before main.
#include <cstdio>

extern "C" int KV_failing();

int main() {
    std::puts("main reached");
    return KV_failing() == 1 ? 0 : 3;
}
