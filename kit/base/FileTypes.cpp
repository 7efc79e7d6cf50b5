#include "kit/base/FileTypes.h"

#include <gio/gio.h>

namespace kit {

std::string mimeTypeForFileName(const std::string& name) {
    gboolean uncertain = FALSE;
    gchar* type = g_content_type_guess(name.c_str(), nullptr, 0, &uncertain);
    gchar* mime = type ? g_content_type_get_mime_type(type) : nullptr;
    std::string result = mime && !uncertain ? mime : "application/octet-stream";
    g_free(mime);
    g_free(type);
    return result;
}

}  // namespace kit
