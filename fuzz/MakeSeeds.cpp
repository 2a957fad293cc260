// Writes the seed corpora of the fuzz targets into a directory (fuzz/make-seeds calls it):
//   archive/  archives by our writer (one of names made mostly of slashes), plain, scrambled
//             with the targets' given key and carrying their own key, and the Info-ZIP
//             archives named on the command line, plain and scrambled;
//   writer/   inputs of the writer target;
//   path/     texts for the path target.
#include "ArchiveBuilders.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

using testing_support::ArchiveItem;
using testing_support::MakeArchive;
using testing_support::Scramble;

namespace {

const std::string GivenKey = "fuzz-key";
const std::string TrailerKey = "0123456789abcdef0123456789ABCDEF";

std::string Repeat(const std::string& p_unit, std::size_t p_count)
{
    std::string text;
    for (std::size_t i = 0; i < p_count; ++i)
        text += p_unit;
    return text;
}

void Write(const std::string& p_path, const std::string& p_bytes)
{
    std::ofstream out(p_path, std::ios_base::binary);
    out << p_bytes;
}

} // namespace

int main(int p_count, char** p_arguments)
{
    if (p_count < 2) {
        std::cerr << "usage: MakeSeeds DIRECTORY [INFO-ZIP ARCHIVE...]\n";
        return 2;
    }
    const std::string root = p_arguments[1];
    const std::vector<std::vector<ArchiveItem>> sets = {
        {{"a.txt", "hello\r\nworld\r", false}},
        {{"shaders/", "", true}, {"shaders/basic.vert", "void main() {}\r\n", false}, {"img/logo/a.png", "PNG", false}},
        {{"empty", "", false}, {"dir\\file", "x", false}, {"lib", "L", false}, {"lib/", "", true}},
        // Names of many slashes, in runs and between empty and deep components: about 64 KiB.
        {{std::string(4000, '/') + Repeat("a//b///", 1500) + "c", "slashes", false},
         {Repeat("d/", 5000) + "e", "deep", false},
         {Repeat("d/", 2500) + "//", "", true}},
    };
    int index = 0;
    for (const auto& items : sets) {
        const std::string name = root + "/archive/writer" + std::to_string(index++);
        Write(name + "-plain", MakeArchive(items, std::string(), false));
        Write(name + "-given", MakeArchive(items, GivenKey, false));
        Write(name + "-trailer", MakeArchive(items, TrailerKey, true));
    }
    for (int i = 2; i < p_count; ++i) {
        std::ifstream in(p_arguments[i], std::ios_base::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string name = root + "/archive/infozip" + std::to_string(i - 2);
        Write(name + "-plain", bytes);
        Write(name + "-given", Scramble(bytes, GivenKey));
        Write(name + "-trailer", Scramble(bytes, TrailerKey) + TrailerKey);
    }

    // Writer inputs: mode byte, key, then entries (head byte: 0x80 directory, low bits the
    // name length; a file's length byte counts units of four bytes).
    auto entry = [](const std::string& p_name, const std::string& p_bytes, bool p_directory) {
        std::string out(1, static_cast<char>((p_directory ? 0x80 : 0) | p_name.size()));
        out += p_name;
        if (!p_directory) {
            std::string bytes = p_bytes;
            bytes.resize((bytes.size() + 3) / 4 * 4, '.');
            out += static_cast<char>(bytes.size() / 4);
            out += bytes;
        }
        return out;
    };
    const std::string entries = entry("a.txt", "line\r\nline", false) + entry("dir/", "", true) +
                                entry("dir/sub/b.bin", std::string("\0\r\n\r", 4), false);
    Write(root + "/writer/plain", std::string(1, '\0') + entries);
    Write(root + "/writer/given",
          std::string(1, '\1') + std::string(1, static_cast<char>(GivenKey.size() - 1)) + GivenKey + entries);
    Write(root + "/writer/trailer", std::string(1, '\2') + TrailerKey + entries);

    const std::vector<std::string> paths = {
        std::string("a/b\0a\0b", 7), std::string("C:\\data\\assets\\\0/\0x", 20), std::string("///\0a//b/./../c\0", 16),
        std::string("\0/b\0c", 5),   std::string("a.tar.gz\0a\0.cfg", 16),        std::string("a-b\0a/b\0a0", 10)};
    index = 0;
    for (const std::string& path : paths)
        Write(root + "/path/seed" + std::to_string(index++), path);
    return 0;
}
