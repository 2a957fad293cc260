// Fuzz target: AssetPath's operations as properties over fuzzed texts. The input is split at
// NUL bytes into up to three texts; each property is checked against a direct reading of the
// path rules (normalisation, join, order, parent test, relative path, extension).
#include <Assets/AssetPath.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using Qor::Draxel::Assets::AssetPath;

namespace {

void Require(bool p_condition)
{
    if (!p_condition)
        std::abort();
}

std::string Normalized(std::string p_text)
{
    for (char& c : p_text)
        if (c == '\\')
            c = '/';
    while (p_text.size() > 1 && p_text.back() == '/')
        p_text.pop_back();
    return p_text;
}

bool StartsWith(const std::string& p_text, const std::string& p_prefix)
{
    return p_text.compare(0, p_prefix.size(), p_prefix) == 0;
}

void CheckOne(const std::string& p_raw)
{
    const AssetPath path(p_raw);
    const std::string text = path.str();
    // Invariants: no backslash, no trailing slash unless the text is "/", nothing else changed.
    Require(text.find('\\') == std::string::npos);
    Require(text.size() <= 1 || text.back() != '/');
    Require(text == Normalized(p_raw));
    Require(std::strlen(static_cast<const char*>(path)) <= text.size());
    // Normalising again changes nothing; a copy is equal and ordered neither way.
    const AssetPath again(text);
    Require(again == path && !(again < path) && !(path < again));
    // The root is the parent of everything; every path is its own parent and keeps itself
    // relative to the root, less one leading slash.
    Require(AssetPath().IsParentOf(path) && path.IsParentOf(path));
    Require(path.RelativeTo(path).str().empty());
    const AssetPath fromRoot = path.RelativeTo(AssetPath());
    Require(fromRoot.str() == (!text.empty() && text[0] == '/' ? text.substr(1) : text));
    // Extension: after the last dot when it stands behind the last slash (or behind position 0).
    const std::size_t slash = text.rfind('/');
    const std::size_t dot = text.rfind('.');
    const std::size_t after = slash == std::string::npos ? 0 : slash;
    const std::string extension = dot != std::string::npos && dot > after ? text.substr(dot + 1) : std::string();
    Require(path.Extension() == extension);
}

void CheckPair(const std::string& p_left, const std::string& p_right)
{
    const AssetPath left(p_left);
    const AssetPath right(p_right);
    const std::string l = left.str();
    const std::string r = right.str();

    // Order and equality are those of the bytes, unsigned.
    Require((left == right) == (l == r));
    const int order = l.compare(r);
    Require((left < right) == (order < 0));
    Require(!((left < right) && (right < left)));

    // Join: one slash at the seam, the right side's leading slashes dropped.
    const AssetPath joined = left + right;
    std::string expected = l;
    if (!r.empty()) {
        if (!expected.empty() && expected.back() != '/')
            expected += '/';
        const std::size_t first = r.find_first_not_of('/');
        expected += first == std::string::npos ? r : r.substr(first);
    }
    Require(joined.str() == Normalized(expected));
    if (r.empty())
        Require(joined == left);
    if (l != "/" && r.find_first_not_of('/') != std::string::npos) {
        Require(left.IsParentOf(joined));
        Require(joined.RelativeTo(left) == AssetPath(r.substr(r.find_first_not_of('/'))));
    }

    // Parent test: textual prefix up to a slash, the root above everything.
    const bool parent = l.empty() || (StartsWith(r, l) && (r.size() == l.size() || r[l.size()] == '/'));
    Require(left.IsParentOf(right) == parent);
    if (left.IsParentOf(right) && right.IsParentOf(left))
        Require(left == right);

    // Relative path: the rest below the base, one leading slash dropped; unchanged otherwise.
    const AssetPath relative = right.RelativeTo(left);
    if (!parent) {
        Require(relative == right);
    } else {
        std::string rest = Normalized(r.substr(l.size()));
        if (!rest.empty() && rest[0] == '/')
            rest.erase(0, 1);
        Require(relative.str() == rest);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* p_data, std::size_t p_size)
{
    const std::string input(reinterpret_cast<const char*>(p_data), p_size);
    std::vector<std::string> texts;
    std::size_t from = 0;
    while (texts.size() < 2) {
        const std::size_t nul = input.find('\0', from);
        if (nul == std::string::npos)
            break;
        texts.push_back(input.substr(from, nul - from));
        from = nul + 1;
    }
    texts.push_back(input.substr(from));
    for (const std::string& text : texts)
        CheckOne(text);
    for (const std::string& left : texts)
        for (const std::string& right : texts)
            CheckPair(left, right);
    // Join is associative where no side is "/" or starts with a slash at the seam.
    if (texts.size() == 3) {
        const AssetPath a(texts[0]), b(texts[1]), c(texts[2]);
        auto plain = [](const AssetPath& p_path) {
            const std::string text = p_path.str();
            return !text.empty() && text[0] != '/';
        };
        if (plain(b) && plain(c))
            Require(((a + b) + c) == (a + (b + c)));
    }
    return 0;
}
