// Taking machine URLs ("protocol://host/resource") apart. Only the first colon
// and the slashes after it are significant.
#include <corvane.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "text_copy.h"

namespace {

using corvane::CopyCut;

// Where the host starts: after the first colon and the two slashes that must
// follow it. Empty when the URL is not of that form.
std::optional<std::string_view> AfterAuthorityMark(const char* url)
{
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr || colon[1] != '/' || colon[2] != '/') return std::nullopt;
    return std::string_view(colon + 3);
}

void Empty(char* output, int outputSize)
{
    if (output != nullptr && outputSize > 0) output[0] = '\0';
}

}  // namespace

int CvUtil_URLExtractProtocol(const char* url, char* output, int outputSize)
{
    Empty(output, outputSize);
    if (url == nullptr) return 0;
    const char* colon = std::strchr(url, ':');
    if (colon == nullptr) return 0;
    CopyCut(output, outputSize, std::string_view(url, static_cast<std::size_t>(colon - url)));
    return 1;
}

int CvUtil_URLExtractHost(const char* url, char* output, int outputSize)
{
    Empty(output, outputSize);
    if (url == nullptr) return 0;
    const auto rest = AfterAuthorityMark(url);
    if (!rest) return 0;
    CopyCut(output, outputSize, rest->substr(0, rest->find('/')));
    return 1;
}

int CvUtil_URLExtractResource(const char* url, char* output, int outputSize)
{
    Empty(output, outputSize);
    if (url == nullptr) return 0;
    const auto rest = AfterAuthorityMark(url);
    if (!rest) return 0;
    const std::size_t slash = rest->find('/');
    if (slash == std::string_view::npos) return 0;
    CopyCut(output, outputSize, rest->substr(slash + 1));
    return 1;
}
