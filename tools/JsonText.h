// JSON as draxel-assets writes it: always valid, whatever bytes a name holds.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace draxel_tool {

using Json = nlohmann::ordered_json;

// Sets p_object[p_key] to p_name. A name that is not UTF-8 (JSON text must be) is written as
// Printable writes it, with p_key + "Escaped": true beside it.
void PutName(Json& p_object, const std::string& p_key, const std::string& p_name);

// The document as text, indented by 2, with a newline; any byte that is still not UTF-8 is
// replaced by U+FFFD rather than ending the command.
std::string JsonText(const Json& p_document);

} // namespace draxel_tool
