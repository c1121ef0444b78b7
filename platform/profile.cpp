#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/file_io.h"
#include "platform/win_error.h"

namespace kalvo::platform {
namespace {

// Longest path a Windows caller can hold (MAX_PATH without the NUL).
constexpr size_t kMaxPath = 259;

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view trimLeft(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
    size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) --n;
    return s.substr(0, n);
}

std::string_view trim(std::string_view s) {
    return trimRight(trimLeft(s));
}

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names match without regard to case; only ASCII letters fold, other bytes
// (any code page) compare as they are.
std::string foldName(std::string_view name) {
    std::string folded(name);
    for (char& c : folded) c = lowerAscii(c);
    return folded;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

enum class LineKind { Blank, Comment, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // key value, trimmed
};

ParsedLine parseLine(std::string_view text) {
    ParsedLine p;
    std::string_view t = trimLeft(text);
    if (t.empty()) return p;
    if (t[0] == ';') {
        p.kind = LineKind::Comment;
        return p;
    }
    if (t[0] == '[') {
        p.kind = LineKind::Section;
        std::string_view rest = t.substr(1);
        size_t close = rest.find(']');
        p.name = trim(rest.substr(0, close));
        return p;
    }
    p.kind = LineKind::Key;
    size_t eq = t.find('=');
    if (eq == std::string_view::npos) {
        // A line without '=' is a key without a value.
        p.name = trimRight(t);
    } else {
        p.name = trimRight(t.substr(0, eq));
        p.value = trim(t.substr(eq + 1));
    }
    return p;
}

// A UTF-8 byte order mark that an editor put at the start of the file is not
// part of the first line's name; it is kept when the file is rewritten.
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view withoutBom(std::string_view text) {
    if (text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    return text;
}

// Line index of a document; the first line may carry the byte order mark.
template <typename Lines>
ParsedLine parseAt(const Lines& lines, size_t index) {
    return parseLine(index == 0 ? withoutBom(lines[0].text) : std::string_view(lines[index].text));
}

// Calls fn(text) for every line of an ini text, without its line end; stops
// when fn returns false.
template <typename Fn>
void forEachLine(std::string_view text, Fn&& fn) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        size_t end = (nl == std::string_view::npos) ? text.size() : nl;
        if (!fn(text.substr(pos, end - pos))) return;
        pos = (nl == std::string_view::npos) ? text.size() : nl + 1;
    }
}

// The value of the first matching key in the first matching section.
std::optional<std::string_view> lookup(std::string_view text, std::string_view section,
                                       std::string_view key) {
    section = trim(section);
    key = trim(key);
    bool inSection = false;
    std::optional<std::string_view> found;
    forEachLine(withoutBom(text), [&](std::string_view line) {
        // Outside the section only a section header matters.
        if (!inSection) {
            std::string_view t = trimLeft(line);
            if (t.empty() || t[0] != '[') return true;
        }
        ParsedLine p = parseLine(line);
        if (p.kind == LineKind::Section) {
            if (inSection) {
                return false;  // only the first section of that name counts
            }
            inSection = sameName(p.name, section);
        } else if (inSection && p.kind == LineKind::Key && sameName(p.name, key)) {
            found = p.value;
            return false;
        }
        return true;
    });
    return found;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Names and values that would not read back as written: a line break would
// split the line (and could forge other keys), ']' ends a section name, '='
// ends a key name, and a key starting with '[' or ';' would read as a section
// header or a comment.
bool writable(std::string_view section, std::string_view key, std::string_view value) {
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return false;
    if (section.find(']') != std::string_view::npos) return false;
    if (key.find('=') != std::string_view::npos) return false;
    std::string_view k = trim(key);
    if (!k.empty() && (k[0] == '[' || k[0] == ';')) return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// IniDocument

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument doc;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            doc.lines_.push_back(Line{std::string(text.substr(pos)), EndNone});
            break;
        }
        std::string_view t = text.substr(pos, nl - pos);
        uint8_t end = EndLf;
        if (!t.empty() && t.back() == '\r') {
            t.remove_suffix(1);
            end = EndCrLf;
        }
        doc.lines_.push_back(Line{std::string(t), end});
        pos = nl + 1;
    }
    doc.rebuildIndex();
    return doc;
}

void IniDocument::rebuildIndex() {
    headers_.clear();
    firstHeader_.clear();
    for (size_t i = 0; i < lines_.size(); ++i) {
        ParsedLine p = parseAt(lines_, i);
        if (p.kind != LineKind::Section) continue;
        firstHeader_.emplace(foldName(p.name), headers_.size());  // the first one stays
        headers_.push_back(i);
    }
}

std::string IniDocument::serialize() const {
    size_t total = 0;
    for (const Line& l : lines_) total += l.text.size() + 2;
    std::string out;
    out.reserve(total);
    for (const Line& l : lines_) {
        out += l.text;
        if (l.end == EndCrLf) {
            out += "\r\n";
        } else if (l.end == EndLf) {
            out += '\n';
        }
    }
    return out;
}

std::optional<std::pair<size_t, size_t>> IniDocument::findSection(std::string_view section) const {
    auto it = firstHeader_.find(foldName(trim(section)));
    if (it == firstHeader_.end()) return std::nullopt;
    size_t ordinal = it->second;
    size_t last = ordinal + 1 < headers_.size() ? headers_[ordinal + 1] : lines_.size();
    return std::make_pair(headers_[ordinal], last);
}

std::optional<std::string> IniDocument::get(std::string_view section, std::string_view key) const {
    auto range = findSection(section);
    if (!range) return std::nullopt;
    key = trim(key);
    for (size_t i = range->first + 1; i < range->second; ++i) {
        ParsedLine p = parseAt(lines_, i);
        if (p.kind == LineKind::Key && sameName(p.name, key)) return std::string(p.value);
    }
    return std::nullopt;
}

bool IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    if (!writable(section, key, value)) return false;
    section = trim(section);
    key = trim(key);
    auto keyLine = [&](std::string_view name) {
        std::string text;
        text.reserve(name.size() + 1 + value.size());
        text.append(name).append("=").append(value);
        return text;
    };
    auto range = findSection(section);
    if (range) {
        for (size_t i = range->first + 1; i < range->second; ++i) {
            ParsedLine p = parseAt(lines_, i);
            if (p.kind == LineKind::Key && sameName(p.name, key)) {
                // The key keeps its own spelling and its line end.
                lines_[i].text = keyLine(p.name);
                return true;
            }
        }
        // Append after the section's last non-blank line, before the blank
        // lines that separate it from the next section.
        size_t pos = range->second;
        while (pos > range->first + 1 && parseAt(lines_, pos - 1).kind == LineKind::Blank) {
            --pos;
        }
        if (lines_[pos - 1].end == EndNone) lines_[pos - 1].end = EndCrLf;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(pos),
                      Line{keyLine(key), EndCrLf});
        // Every header after the inserted line moves down by one.
        auto after = std::upper_bound(headers_.begin(), headers_.end(), range->first);
        for (; after != headers_.end(); ++after) ++*after;
        return true;
    }
    if (!lines_.empty() && lines_.back().end == EndNone) lines_.back().end = EndCrLf;
    std::string header;
    header.reserve(section.size() + 2);
    header.append("[").append(section).append("]");
    firstHeader_.emplace(foldName(section), headers_.size());
    headers_.push_back(lines_.size());
    lines_.push_back(Line{std::move(header), EndCrLf});
    lines_.push_back(Line{keyLine(key), EndCrLf});
    return true;
}

void IniDocument::removeKey(std::string_view section, std::string_view key) {
    auto range = findSection(section);
    if (!range) return;
    key = trim(key);
    // Every line of the key in that section goes, so a duplicate further down
    // does not come back to life.
    size_t end = range->second;
    for (size_t i = range->first + 1; i < end;) {
        ParsedLine p = parseAt(lines_, i);
        if (p.kind == LineKind::Key && sameName(p.name, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
            --end;
        } else {
            ++i;
        }
    }
    if (end != range->second) rebuildIndex();
}

void IniDocument::removeSection(std::string_view section) {
    while (auto range = findSection(section)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->first),
                     lines_.begin() + static_cast<std::ptrdiff_t>(range->second));
        rebuildIndex();
    }
}

bool IniDocument::hasSection(std::string_view section) const {
    return findSection(section).has_value();
}

std::vector<std::string> IniDocument::sections() const {
    // Each name once, spelled as its first section spells it.
    std::vector<std::string> names;
    for (size_t ordinal = 0; ordinal < headers_.size(); ++ordinal) {
        ParsedLine p = parseAt(lines_, headers_[ordinal]);
        auto it = firstHeader_.find(foldName(p.name));
        if (it != firstHeader_.end() && it->second == ordinal) names.emplace_back(p.name);
    }
    return names;
}

std::vector<std::string> IniDocument::keys(std::string_view section) const {
    std::vector<std::string> names;
    auto range = findSection(section);
    if (!range) return names;
    for (size_t i = range->first + 1; i < range->second; ++i) {
        ParsedLine p = parseAt(lines_, i);
        if (p.kind != LineKind::Key) continue;
        bool seen = false;
        for (const std::string& n : names) seen = seen || sameName(n, p.name);
        if (!seen) names.emplace_back(p.name);
    }
    return names;
}

// ---------------------------------------------------------------------------
// File calls

int32_t profileGetInt(const std::string& file, std::string_view section, std::string_view key,
                      int32_t defaultValue) {
    std::string text;
    if (readWholeFile(file, text) != ReadResult::ok) return defaultValue;
    auto value = lookup(text, section, key);
    if (!value) return defaultValue;
    std::string_view v = *value;
    size_t i = 0;
    bool negative = false;
    if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
    if (i >= v.size() || v[i] < '0' || v[i] > '9') return defaultValue;
    // Digits accumulate in 32 bits and wrap, as the 32-bit reader does; a
    // value such as 4294967295 reads as -1.
    uint32_t n = 0;
    for (; i < v.size() && v[i] >= '0' && v[i] <= '9'; ++i) {
        n = n * 10u + static_cast<uint32_t>(v[i] - '0');
    }
    if (negative) n = 0u - n;
    return static_cast<int32_t>(n);
}

uint32_t profileGetString(const std::string& file, std::string_view section, std::string_view key,
                          std::string_view defaultValue, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) return 0;
    std::string text;
    std::optional<std::string_view> value;
    if (readWholeFile(file, text) == ReadResult::ok) value = lookup(text, section, key);
    std::string_view v = value ? *value : defaultValue;
    size_t n = std::min<size_t>(v.size(), size - 1);
    if (n > 0) std::memcpy(buffer, v.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

std::string profileGetString(const std::string& file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
    try {
        std::string text;
        if (readWholeFile(file, text) == ReadResult::ok) {
            if (auto value = lookup(text, section, key)) return std::string(*value);
        }
        return std::string(defaultValue);
    } catch (const std::bad_alloc&) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::string();
    }
}

bool profileWriteString(const std::string& file, std::string_view section, std::string_view key,
                        std::optional<std::string_view> value) {
    if (file.empty() || file.find('\0') != std::string::npos) {
        setLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!writable(section, key, value.value_or(std::string_view()))) {
        setLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        std::string path = resolveLink(file);
        FolderLock lock(path);
        if (!lock.held()) {
            setLastError(errno == ENOENT ? ERROR_PATH_NOT_FOUND : win32ErrorFromErrno(errno));
            return false;
        }
        std::string text;
        ReadResult read = readWholeFile(path, text);
        if (read == ReadResult::failed) {
            setLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : win32ErrorFromErrno(errno));
            return false;
        }
        bool exists = read == ReadResult::ok;

        IniDocument doc = IniDocument::parse(text);
        if (value) {
            doc.set(section, key, *value);
        } else {
            doc.removeKey(section, key);
        }
        std::string updated = doc.serialize();
        // Deleting a key that is not there changes nothing and creates nothing.
        if ((exists && updated == text) || (!exists && !value)) return true;
        if (!replaceFile(path, updated)) {
            setLastError(win32ErrorFromErrno(errno));
            return false;
        }
        return true;
    } catch (const std::bad_alloc&) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

std::string fullPathName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        setLastError(ERROR_INVALID_NAME);
        return std::string();
    }
    try {
        std::string base;
        if (name[0] != '/' && name[0] != '\\') {
            char cwd[PATH_MAX];
            if (::getcwd(cwd, sizeof cwd) == nullptr) {
                setLastError(win32ErrorFromErrno(errno));
                return std::string();
            }
            base = cwd;
        }
        // Split both parts at either separator; "." goes, ".." drops the
        // part before it (never above the root).
        std::vector<std::string_view> parts;
        auto addParts = [&parts](std::string_view s) {
            size_t pos = 0;
            while (pos <= s.size()) {
                size_t sep = s.find_first_of("/\\", pos);
                if (sep == std::string_view::npos) sep = s.size();
                std::string_view part = s.substr(pos, sep - pos);
                if (part == "..") {
                    if (!parts.empty()) parts.pop_back();
                } else if (!part.empty() && part != ".") {
                    parts.push_back(part);
                }
                pos = sep + 1;
            }
        };
        addParts(base);
        addParts(name);
        std::string result;
        for (std::string_view p : parts) result.append("/").append(p);
        char lastChar = name.back();
        bool trailing = (lastChar == '/' || lastChar == '\\');
        if (result.empty() || trailing) result += '/';
        if (result.size() > kMaxPath) {
            setLastError(ERROR_FILENAME_EXCED_RANGE);
            return std::string();
        }
        return result;
    } catch (const std::bad_alloc&) {
        setLastError(ERROR_NOT_ENOUGH_MEMORY);
        return std::string();
    }
}

}  // namespace kalvo::platform
