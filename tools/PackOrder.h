// pack --order: the order in which pack writes its entries. Those a file names (one name a
// line, as stored; a CR before the line end and empty lines are ignored) come first, in the
// file's order; the rest follow by name. A name that is not packed, or that comes twice, ends
// the command naming its line.
#pragma once

#include "ToolSupport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace draxel_tool {

// p_items in the order they are written; p_orderFile empty: by name.
template <class Items>
std::vector<typename Items::const_iterator> WriteOrder(const Items& p_items, const std::string& p_orderFile)
{
    std::vector<typename Items::const_iterator> order;
    order.reserve(p_items.size());
    std::set<std::string> placed;
    if (!p_orderFile.empty()) {
        std::ifstream file(std::filesystem::u8path(p_orderFile), std::ios_base::binary);
        if (!file)
            throw Failure(p_orderFile, std::strerror(errno));
        std::string name;
        for (std::size_t line = 1; std::getline(file, name); ++line) {
            if (!name.empty() && name.back() == '\r')
                name.pop_back();
            if (name.empty())
                continue;
            const std::string where = p_orderFile + ":" + std::to_string(line);
            auto item = p_items.find(name);
            if (item == p_items.end())
                throw Failure(where, "no entry named " + name + " is packed");
            if (!placed.insert(name).second)
                throw Failure(where, name + " is named twice");
            order.push_back(item);
        }
        if (file.bad())
            throw Failure(p_orderFile, std::strerror(errno));
    }
    for (auto item = p_items.begin(); item != p_items.end(); ++item)
        if (placed.find(item->first) == placed.end())
            order.push_back(item);
    return order;
}

} // namespace draxel_tool
