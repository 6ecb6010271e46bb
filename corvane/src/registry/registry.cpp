// Formatting of the registries' message tables. The texts live in tables rather
// than at the call sites, so they are formats the compiler cannot check; each
// helper passes exactly the arguments its table column documents.
#include "registry.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "managers/fixed_text.h"

namespace corvane {
namespace {

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
void FormatTableText(char* out, std::size_t size, const char* text, ...)
{
    va_list arguments;
    va_start(arguments, text);
    std::vsnprintf(out, size, text, arguments);
    va_end(arguments);
}
#pragma GCC diagnostic pop

}  // namespace

int RegistryFail(CvError* error, int code, const char* text, CvUID uid)
{
    char message[CV_ERROR_MESSAGE_SIZE];
    FormatTableText(message, sizeof message, text, static_cast<int>(uid));
    return CvSetThreadError(error, code, "%s", message);
}

void RegistryLogNotice(const char* text, CvUID uid)
{
    char message[CV_LOG_MESSAGE_MAX + 1];
    FormatTableText(message, sizeof message, text, static_cast<int>(uid));
    CvLog(CV_LOG_ERROR, "%s when doing command complete notify", message);
}

void RegistryLogDisposeFailure(const char* text, CvUID uid, const char* name, const CvError& error)
{
    // An owner may have written the record itself and left it unterminated.
    const std::string reason = FixedText(error.message);
    char message[CV_LOG_MESSAGE_MAX + 1];
    FormatTableText(message, sizeof message, text, static_cast<int>(uid), name ? name : "", reason.c_str());
    CvLog(CV_LOG_ERROR, "%s", message);
}

}  // namespace corvane
