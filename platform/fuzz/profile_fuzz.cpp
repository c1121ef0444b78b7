// Profile files: any bytes read as an ini text. The document keeps every
// byte (parse, then serialize, gives the input back); a read of a section and
// key named in the input never fails; a write of a value reads back the same
// through the document and through the file calls, and leaves every other
// key as it read before.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/profile.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "profile fuzz: %s\n", what);
    std::abort();
}

std::string gDir;

void removeDir() {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
}

// One folder for the whole run, removed when the run ends.
std::string tempFile() {
    if (gDir.empty()) {
        char dir[] = "/tmp/kalvo-profile-fuzz-XXXXXX";
        if (!mkdtemp(dir)) fail("no temporary folder");
        gDir = dir;
        std::atexit(removeDir);
    }
    return gDir + "/Fuzz.ini";
}

void writeFile(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) fail("cannot write the temporary file");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

// Names match without regard to ASCII case.
bool sameNameForFuzz(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace kalvo::platform;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    IniDocument doc = IniDocument::parse(text);
    if (doc.serialize() != text) fail("parse and serialize changed the bytes");

    // Every section and key the document names reads back; the file calls
    // agree with the document.
    std::string path = tempFile();
    writeFile(path, text);
    auto sections = doc.sections();
    for (size_t s = 0; s < sections.size() && s < 8; ++s) {
        for (const std::string& key : doc.keys(sections[s])) {
            auto value = doc.get(sections[s], key);
            if (!value) fail("a listed key does not read");
            if (profileGetString(path, sections[s], key, "\x01") != *value)
                fail("the file read and the document disagree");
            profileGetInt(path, sections[s], key, -7);
        }
    }

    // A write reads back, through the document and through the file.
    std::string section = sections.empty() ? "S" : sections.front();
    std::string value = "v" + std::to_string(size);
    IniDocument edited = doc;
    bool accepted = edited.set(section, "FuzzKey", value);
    if (accepted) {
        if (edited.get(section, "FuzzKey") != value) fail("a set value does not read back");
        IniDocument reread = IniDocument::parse(edited.serialize());
        if (reread.get(section, "FuzzKey") != value) fail("a set value is lost when written");
        for (const std::string& other : doc.sections())
            for (const std::string& key : doc.keys(other))
                if (!(sameNameForFuzz(other, section) && sameNameForFuzz(key, "FuzzKey")) &&
                    reread.get(other, key) != doc.get(other, key))
                    fail("a write changed another key");
        if (profileWriteString(path, section, "FuzzKey", value) &&
            profileGetString(path, section, "FuzzKey", "") != value)
            fail("a written value does not read back from the file");
    }
    edited.removeKey(section, "FuzzKey");
    if (edited.get(section, "FuzzKey")) fail("a removed key still reads");
    edited.removeSection(section);
    if (edited.hasSection(section)) fail("a removed section is still there");
    return 0;
}
