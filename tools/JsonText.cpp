// Names in JSON documents, and the documents as text.
#include "JsonText.h"

#include "ToolSupport.h"

#include "ArchiveCore/Names.h"

namespace draxel_tool {

void PutName(Json& p_object, const std::string& p_key, const std::string& p_name)
{
    if (Qor::Draxel::Assets::Zip::IsUtf8(p_name)) {
        p_object[p_key] = p_name;
        return;
    }
    p_object[p_key] = Printable(p_name);
    p_object[p_key + "Escaped"] = true;
}

std::string JsonText(const Json& p_document)
{
    return p_document.dump(2, ' ', false, Json::error_handler_t::replace) + '\n';
}

} // namespace draxel_tool
